#include "Reporter.h"

namespace app {

void logCaughtException(const SourcePosition& position, const std::exception& error) {
    if (const auto* runtimeError = dynamic_cast<const std::runtime_error*>(&error)) {
        logCaughtError(position, *runtimeError);
    } else {
        logCaughtError(position);
    }
}

} // namespace app
