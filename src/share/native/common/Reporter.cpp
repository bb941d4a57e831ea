#include "Reporter.h"

#include <stdexcept>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace {

void logCaughtException(const SourcePosition& position, const std::exception& error) {
    if (const auto* runtimeError = dynamic_cast<const std::runtime_error*>(&error)) {
        logCaughtError(position, *runtimeError);
    } else {
        logCaughtError(position);
    }
}

} // namespace

namespace app {

int runReporting(const SourcePosition& catchSite, const std::function<int()>& action,
                 std::string (*foreignText)(const std::exception&),
                 const std::function<void(const std::string&)>& show) {
    try {
        return action();
    } catch (const VtErrorBase& error) {
        show(tstrings::TextBuilder(error.wholeBareMessage()).utf8());
        logCaughtError(catchSite, dynamic_cast<const std::runtime_error&>(error));
    } catch (const std::exception& error) {
        show(foreignText(error));
        logCaughtException(catchSite, error);
    } catch (...) {
        show("Unknown error");
        logCaughtError(catchSite);
    }
    return 1;
}

} // namespace app
