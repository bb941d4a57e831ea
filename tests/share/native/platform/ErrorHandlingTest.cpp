#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace {

void raiseHere() {
    VT_RAISE(tstrings::TextBuilder() << "bad " << 42);
}

} // namespace

TEST(ErrorModel, PositionedMessageNamesFileLineAndFunction) {
    const SourcePosition position{"C:\\src\\dir/CfgFile.cpp", "CfgFile::load", 123};
    const VtError<std::runtime_error> error(std::runtime_error("oops"), position);
    EXPECT_STREQ("CfgFile.cpp(123) at CfgFile::load(): oops", error.what());
    EXPECT_STREQ("oops", error.bareMessage());
}

TEST(ErrorModel, FileWithoutSeparatorIsShownWhole) {
    const VtError<std::runtime_error> error(std::runtime_error("m"), {"plain.cpp", "f", -1});
    EXPECT_STREQ("plain.cpp(-1) at f(): m", error.what());
}

TEST(ErrorModel, FileEndingWithSeparatorHasEmptyBaseName) {
    const VtError<std::runtime_error> error(std::runtime_error("m"), {"dir/", "f", 1});
    EXPECT_STREQ("(1) at f(): m", error.what());
}

TEST(ErrorModel, RaiseMacroSuppliesTheQualifiedFunctionName) {
    try {
        raiseHere();
        FAIL() << "no error raised";
    } catch (const VtErrorBase& error) {
        EXPECT_STREQ("bad 42", error.bareMessage());
        const std::string what = dynamic_cast<const std::runtime_error&>(error).what();
        EXPECT_EQ(0u, what.find("ErrorHandlingTest.cpp(")) << what;
        EXPECT_NE(std::string::npos, what.find(") at {anonymous}::raiseHere(): bad 42")) << what;
    }
}

TEST(ErrorModel, JoinMessageParts) {
    EXPECT_EQ("abc. def", joinMessageParts("abc", "def"));
    EXPECT_EQ("abc! def", joinMessageParts("abc!", "def"));
    EXPECT_EQ("abc. def", joinMessageParts("abc  ", " def "));
    EXPECT_EQ("abc.", joinMessageParts("abc.", "  "));
    EXPECT_EQ("def", joinMessageParts("", "def"));
    EXPECT_EQ("  abc", joinMessageParts("  abc", ""));
    EXPECT_EQ("GetModuleFileName failed. System error [2]",
              joinMessageParts("GetModuleFileName failed", "System error [2]"));
    EXPECT_EQ("abc; x", joinMessageParts("abc;", "x"));
    EXPECT_EQ("x", joinMessageParts(" \t\r\n\v\f", "\tx\n"));
    for (const char* ending : {";", ".", ",", ":", "!", "?"}) {
        EXPECT_EQ(std::string("m") + ending + " s",
                  joinMessageParts(std::string("m") + ending, "s"));
    }
    EXPECT_EQ(std::string("m\0. s", 5), joinMessageParts(std::string("m\0", 2), "s"));
}

TEST(ErrorModel, CaughtErrorsAreReportedWithTheCatchSite) {
    testsupport::LogRecorder recorder;
    catchAndLog({"x/Catcher.cpp", "Catcher::run", 7},
                [] { throw std::runtime_error("caf\xc3\xa9"); });
    catchAndLog({"Catcher.cpp", "Catcher::run", 8}, [] { throw 5; });
    catchAndLog({"Catcher.cpp", "Catcher::run", 9}, [] {});
    ASSERT_EQ(2u, recorder.events.size());
    const LogEvent& first = recorder.events[0];
    EXPECT_EQ(L"ERROR", first.level);
    EXPECT_EQ(L"Catcher.cpp", first.file);
    EXPECT_EQ(7, first.line);
    EXPECT_EQ(L"Catcher::run", first.function);
    // Non-ASCII bytes of what() are shown one wide character per byte.
    EXPECT_EQ(L"Exception with message 'caf\u00c3\u00a9' caught", first.message);
    EXPECT_EQ(L"Unknown exception caught", recorder.events[1].message);
    EXPECT_EQ(8, recorder.events[1].line);
}

TEST(ErrorModel, LastCrtErrorTextDescribesErrno) {
    errno = ENOENT;
    EXPECT_EQ(std::strerror(ENOENT), lastCrtErrorText());
}

namespace {

// Codes that both platforms describe: 5 is "Access is denied" on Windows and EIO here, 2 is a
// file not found on both.
std::string systemPart(std::uint32_t code) {
    return "System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (" + testsupport::systemDescription(code) + "))";
}

} // namespace

TEST(SystemErrorText, FailedCallGetsLabelCodeAndSystemDescription) {
    const SysError error(tstrings::TextBuilder()
                             << "SetEnvironmentVariable(" << L"A" << ", " << L"B" << ") failed",
                         testsupport::systemLibraryFunction(), 5);
    EXPECT_EQ("SetEnvironmentVariable(A, B) failed. " + systemPart(5), error.what());
    // The system's text may end with a period and a line end, which the message leaves out.
    EXPECT_EQ(std::string::npos, std::string(error.what()).find_first_of("\r\n"));
}

TEST(SystemErrorText, MessageLabelAndFunctionMayBeMissing) {
    EXPECT_EQ(systemPart(5),
              SysError(tstrings::TextBuilder(), testsupport::systemLibraryFunction(), 5).what());
    EXPECT_EQ("m; " + systemPart(2), SysError(tstrings::TextBuilder() << "m;", nullptr, 2).what());
    EXPECT_EQ("m. Some error [5](system error 5 (" + testsupport::systemDescription(5) + "))",
              SysError(tstrings::TextBuilder() << "m", nullptr, 5, nullptr).what());
}

TEST(SystemErrorText, CodeWithoutTextHasNoDescriptionAvailable) {
    EXPECT_STREQ(
        "m. System error [3758101044](system error 3758101044 (No description available))",
        SysError(tstrings::TextBuilder() << "m", testsupport::systemLibraryFunction(), 0xE0001234u)
            .what());
    // Shown unsigned, as the code is kept.
    EXPECT_STREQ("m. System error [4294967295](system error 4294967295 (No description available))",
                 SysError(tstrings::TextBuilder() << "m", nullptr, 0xFFFFFFFFu).what());
}

TEST(SystemErrorText, AddressOutsideEveryModuleIsWarnedAndLeavesTheDescriptionOut) {
    const std::unique_ptr<int> heapObject(new int(0));
    testsupport::LogRecorder recorder;
    const SysError error(tstrings::TextBuilder() << "m", heapObject.get(), 5);
    EXPECT_STREQ("m. System error [5]", error.what());

    char address[32];
    std::snprintf(address, sizeof(address), "%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(heapObject.get())));
    ASSERT_EQ(1u, recorder.events.size());
    EXPECT_EQ(L"WARNING", recorder.events[0].level);
    EXPECT_EQ(L"GetModuleHandleEx() failed for " + tstrings::fromUtf8(address) + L" address.",
              recorder.events[0].message);
    EXPECT_EQ(L"ErrorHandling.cpp", recorder.events[0].file);
    EXPECT_EQ(L"{anonymous}::makeMessage", recorder.events[0].function);
}
