#include "WinApi.h"

#include <gtest/gtest.h>

#include <thread>

#include "Log.h"

TEST(WinLogOrigin, EventCarriesTheLocalDateAndTheCallersIds) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    LogEvent event = {};
    fillLogEventOrigin(event);
    const LogEvent::Time& t = event.time;
    // Fields in the order year, month, day of week, day; a day may end between the two reads.
    EXPECT_TRUE((t.year == before.wYear && t.month == before.wMonth &&
                 t.dayOfWeek == before.wDayOfWeek && t.day == before.wDay) ||
                t.hour == 0)
        << t.year << "/" << t.month << "/" << t.day << " weekday " << t.dayOfWeek;
    EXPECT_LE(t.milliseconds, 999);

    LogEvent workerEvent = {};
    DWORD workerId = 0;
    std::thread([&] {
        workerId = GetCurrentThreadId();
        fillLogEventOrigin(workerEvent);
    }).join();
    EXPECT_EQ(GetCurrentProcessId(), event.processId);
    EXPECT_EQ(event.processId, workerEvent.processId);
    EXPECT_EQ(workerId, workerEvent.threadId);
    EXPECT_NE(event.threadId, workerEvent.threadId);
}
