#include "SourceDate.h"

#include <algorithm>
#include <ctime>

#include "ErrorHandling.h"
#include "SysInfo.h"

namespace {

const std::int64_t latest = 253402300799; // 9999-12-31 23:59:59 UTC

tstring variable() {
    return SysInfo::getEnvVariable(std::nothrow, L"SOURCE_DATE_EPOCH", tstring());
}

} // namespace

namespace SourceDate {

void check() {
    const tstring text = variable();
    if (!isSet()) {
        return;
    }
    // Twelve digits hold every valid value; more would overflow before the range check.
    const bool decimal =
        text.size() <= 12 && text.find_first_not_of(L"0123456789") == tstring::npos;
    if (!decimal || std::stoll(text) > latest) {
        // The value is shown only when it keeps the message on one line.
        const bool showable =
            std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x20 && c != 0x7F; });
        VT_RAISE(tstrings::TextBuilder()
                 << L"SOURCE_DATE_EPOCH must be a decimal number of seconds from 0 to " << latest
                 << L" (the end of the year 9999)"
                 << (showable ? L": \"" + text + L"\"" : tstring()));
    }
}

bool isSet() {
    return !variable().empty();
}

std::int64_t epoch() {
    check();
    return std::stoll(variable());
}

std::int64_t epochOrNow() {
    return isSet() ? epoch() : static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace SourceDate
