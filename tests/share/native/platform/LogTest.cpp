#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "Log.h"
#include "TestSupport.h"

namespace {

LogEvent sampleEvent() {
    LogEvent event{};
    event.time = {2026, 3, 1, 4, 5, 6, 7, 8};
    event.threadId = 22;
    event.processId = 11;
    event.moduleName = L"vantrel.exe";
    event.level = L"TRACE";
    event.file = L"Jvm.cpp";
    event.line = 42;
    event.function = L"Jvm::launch";
    event.message = L"caf\u00e9";
    return event;
}

void tracedFunction() { LOG_TRACE_FUNCTION(); }

} // namespace

TEST(Logging, LevelTexts) {
    EXPECT_STREQ(L"TRACE", Logger::levelText(0));
    EXPECT_STREQ(L"INFO", Logger::levelText(1));
    EXPECT_STREQ(L"WARNING", Logger::levelText(2));
    EXPECT_STREQ(L"ERROR", Logger::levelText(3));
    EXPECT_STREQ(L"UNKNOWN", Logger::levelText(7));
    EXPECT_STREQ(L"UNKNOWN", Logger::levelText(-1));
}

TEST(Logging, LoggerAcceptsLevelsAtOrAboveItsMinimum) {
    const Logger logger(Logger::LOG_WARNING, nullptr);
    EXPECT_FALSE(logger.isEnabled(Logger::LOG_INFO));
    EXPECT_TRUE(logger.isEnabled(Logger::LOG_WARNING));
    EXPECT_TRUE(logger.isEnabled(Logger::LOG_ERROR));
    EXPECT_TRUE(Logger::getDefault().isEnabled(Logger::LOG_TRACE));
}

TEST(Logging, FullLineFormat) {
    std::ostringstream stream;
    StreamLogAppender appender(stream);
    appender.append(sampleEvent());
    EXPECT_EQ("[2026/03/04 05:06:07.008, vantrel.exe (PID: 11, TID: 22), Jvm.cpp:42 (Jvm::launch)]"
              "\n\tTRACE: caf\xc3\xa9\n",
              stream.str());
}

TEST(Logging, EventCarriesBaseNameAndOrigin) {
    testsupport::LogRecorder recorder;
    Logger::getDefault().log(7, L"C:\\src/share\\Cfg.cpp", 5, L"f", L"m");
    ASSERT_EQ(1u, recorder.events.size());
    const LogEvent& event = recorder.events[0];
    EXPECT_EQ(L"UNKNOWN", event.level);
    EXPECT_EQ(L"Cfg.cpp", event.file);
    EXPECT_EQ(logModuleName(), event.moduleName);
    EXPECT_GE(event.time.year, 2024);
    EXPECT_NE(0u, event.processId);
    EXPECT_NE(0u, event.threadId);
}

TEST(Logging, ModuleNameIsTheBaseNameOfTheTestBinary) {
    Logger::getDefault();
    const tstring name = logModuleName();
    EXPECT_NE(tstring::npos, name.find(L"vantrel_unit_tests")) << tstrings::toUtf8(name);
    EXPECT_EQ(tstring::npos, name.find_first_of(L"\\/"));
}

TEST(Logging, TeeSkipsANullSink) {
    testsupport::LogRecorder second;
    TeeLogAppender(nullptr, &second).append(sampleEvent());
    TeeLogAppender(&second, nullptr).append(sampleEvent());
    EXPECT_EQ(2u, second.events.size());
}

TEST(Logging, ExtraSinkSeesEventsOnlyWhileInstalled) {
    testsupport::LogRecorder main;
    testsupport::LogRecorder extra;
    // The extra recorder installed itself; put the main one back as the current sink.
    Logger::getDefault().setAppender(&main);
    {
        WithExtraLogAppender withExtra(extra);
        LOG_TRACE(L"both");
    }
    LOG_TRACE(L"main only");
    Logger::getDefault().setAppender(&extra);
    EXPECT_EQ((std::vector<tstring>{L"TRACE: both", L"TRACE: main only"}), main.lines());
    EXPECT_EQ((std::vector<tstring>{L"TRACE: both"}), extra.lines());
}

TEST(Logging, FunctionTracerLogsEntryAndExitWithLineZero) {
    testsupport::LogRecorder recorder;
    tracedFunction();
    ASSERT_EQ(2u, recorder.events.size());
    const LogEvent& entry = recorder.events[0];
    const LogEvent& exit = recorder.events[1];
    EXPECT_EQ(L"Entering {anonymous}::tracedFunction", entry.message);
    EXPECT_EQ(L"{anonymous}::tracedFunction", entry.function);
    EXPECT_EQ(L"LogTest.cpp", entry.file);
    EXPECT_EQ(0, exit.line);
    EXPECT_EQ(L"Exiting {anonymous}::tracedFunction (entered at LogTest.cpp:" +
                  std::to_wstring(entry.line) + L")",
              exit.message);
}

TEST(Logging, FunctionTracerStaysSilentWhenTheLevelIsRefused) {
    testsupport::LogRecorder recorder;
    Logger quiet(Logger::LOG_ERROR, &recorder);
    { FunctionTracer tracer(quiet, Logger::LOG_TRACE, L"a.cpp", 1, L"f", L"f"); }
    EXPECT_TRUE(recorder.events.empty());
}
