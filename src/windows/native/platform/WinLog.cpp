#include "WinApi.h"

#include "Log.h"

void fillLogEventOrigin(LogEvent& event) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    event.time = {now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                  now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
    event.threadId = GetCurrentThreadId();
    event.processId = GetCurrentProcessId();
}
