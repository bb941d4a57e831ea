#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "ErrorHandling.h"
#include "SysInfo.h"
#include "TestSupport.h"

using testsupport::ChildResult;

namespace {

ChildResult runFixture(const char* mode, const std::optional<tstring>& debug) {
    ChildResult result = testsupport::runChild(
        testsupport::fixturePath(L"launchfixture"), {tstrings::fromUtf8(mode)},
        {{L"VANTREL_DEBUG", debug}, {L"VANTREL_FIXTURE_UNSET_VARIABLE", std::nullopt}});
    result.err = testsupport::withUnixLineEnds(result.err);
    return result;
}

// What the fixture's failing system call reports, reproduced in this process.
std::string unsetVariableMessage() {
    try {
        SysInfo::getEnvVariable(L"VANTREL_FIXTURE_UNSET_VARIABLE");
    } catch (const VtErrorBase& error) {
        return error.bareMessage();
    }
    return "variable unexpectedly set";
}

const std::vector<std::optional<tstring>> tracingOff{std::nullopt, tstring(L""), tstring(L"TRUE"),
                                                    tstring(L"1"), tstring(L"true ")};

} // namespace

TEST(LaunchWrapper, SilentWhenTracingIsOff) {
    for (const auto& debug : tracingOff) {
        const ChildResult result = runFixture("returns", debug);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ("", result.err);
        EXPECT_EQ("", result.out);
    }
}

TEST(LaunchWrapper, FailuresGiveOneLineAndExitCodeOne) {
    const std::string systemMessage = unsetVariableMessage();
    ASSERT_EQ(0u, systemMessage.find("GetEnvironmentVariable(VANTREL_FIXTURE_UNSET_VARIABLE) "
                                     "failed. Variable not set"));
    for (const auto& debug : tracingOff) {
        ChildResult result = runFixture("syserror", debug);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(systemMessage + "\n", result.err);

        result = runFixture("runtime", debug);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(std::string(std::strerror(ENOENT)) + "\n", result.err);

        result = runFixture("nul", debug);
        EXPECT_EQ(std::string("before\0after\n", 13), result.err);

        result = runFixture("other", debug);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ("Unknown error\n", result.err);
        EXPECT_EQ("", result.out);
    }
}

TEST(LaunchWrapper, TraceOfACallbackThatReturns) {
    const ChildResult result = runFixture("returns", tstring(L"true"));
    EXPECT_EQ(0u, result.exitCode);
    std::smatch match;
    const std::regex expected("\\[TRACE\\] app\\.cpp:(\\d+): Entering app::launch\n"
                              "\\[TRACE\\] launchfixture\\.cpp:\\d+: Callback ran\n"
                              "\\[TRACE\\] app\\.cpp:0: Exiting app::launch "
                              "\\(entered at app\\.cpp:(\\d+)\\)\n");
    ASSERT_TRUE(std::regex_match(result.err, match, expected)) << result.err;
    EXPECT_EQ(match[1], match[2]);
    EXPECT_EQ("", result.out);
}

TEST(LaunchWrapper, TraceOfAFailingCallback) {
    const ChildResult result = runFixture("syserror", tstring(L"true"));
    EXPECT_EQ(1u, result.exitCode);
    const std::string message = unsetVariableMessage();
    std::vector<std::string> lines;
    std::istringstream stream(result.err);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(4u, lines.size()) << result.err;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("\\[TRACE\\] app\\.cpp:\\d+: Entering app::launch")));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("\\[ERROR\\] app\\.cpp:\\d+: Exception with "
                                                      "message '.*SysInfo.cpp\\(\\d+\\) at "
                                                      "SysInfo::.*getEnvVariableImpl\\(\\): .*' caught")))
        << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find(message)) << lines[1];
    EXPECT_EQ(message, lines[2]);
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("\\[TRACE\\] app\\.cpp:0: Exiting app::launch "
                                                      "\\(entered at app\\.cpp:\\d+\\)")));
}
