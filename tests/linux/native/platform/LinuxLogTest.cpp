#include <gtest/gtest.h>

#include <unistd.h>

#include <ctime>
#include <thread>

#include "Log.h"

TEST(LinuxLogOrigin, EventCarriesTheLocalDateAndTheCallersIds) {
    const std::time_t now = std::time(nullptr);
    std::tm before = {};
    localtime_r(&now, &before);
    LogEvent event = {};
    fillLogEventOrigin(event);
    const LogEvent::Time& t = event.time;
    // Fields in the order year, month, day of week, day; a day may end between the two reads.
    EXPECT_TRUE((t.year == before.tm_year + 1900 && t.month == before.tm_mon + 1 &&
                 t.dayOfWeek == before.tm_wday && t.day == before.tm_mday) ||
                t.hour == 0)
        << t.year << "/" << t.month << "/" << t.day << " weekday " << t.dayOfWeek;
    EXPECT_LE(t.second, 59);
    EXPECT_LE(t.milliseconds, 999);

    LogEvent workerEvent = {};
    std::thread([&workerEvent] { fillLogEventOrigin(workerEvent); }).join();
    EXPECT_EQ(static_cast<std::uint32_t>(getpid()), event.processId);
    EXPECT_EQ(event.processId, workerEvent.processId);
    // The tests run on the main thread, whose id is the process id.
    EXPECT_EQ(event.processId, event.threadId);
    EXPECT_NE(event.threadId, workerEvent.threadId);
}
