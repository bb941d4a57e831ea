#include "WinApi.h"

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace testsupport {

// Read without the launcher's code.
std::string systemDescription(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0) {
        return "<no system text>";
    }
    tstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    return tstrings::toUtf8(text);
}

const void* systemLibraryFunction() {
    return functionAddress(&SetEnvironmentVariableW);
}

} // namespace testsupport
