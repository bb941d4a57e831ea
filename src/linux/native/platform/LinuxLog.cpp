#include <time.h>
#include <unistd.h>

#include "Log.h"

void fillLogEventOrigin(LogEvent& event) {
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local = {};
    localtime_r(&now.tv_sec, &local);
    event.time = {
        static_cast<std::uint16_t>(local.tm_year + 1900),
        static_cast<std::uint16_t>(local.tm_mon + 1), static_cast<std::uint16_t>(local.tm_wday),
        static_cast<std::uint16_t>(local.tm_mday), static_cast<std::uint16_t>(local.tm_hour),
        static_cast<std::uint16_t>(local.tm_min),
        // A leap second shows as 60, as Windows never does.
        static_cast<std::uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec),
        static_cast<std::uint16_t>(now.tv_nsec / 1000000)};
    event.threadId = static_cast<std::uint32_t>(gettid());
    event.processId = static_cast<std::uint32_t>(getpid());
}
