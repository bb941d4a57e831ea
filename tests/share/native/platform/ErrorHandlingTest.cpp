#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace {

void raiseHere() { VT_RAISE(tstrings::TextBuilder() << "bad " << 42); }

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
        EXPECT_EQ(std::string("m") + ending + " s", joinMessageParts(std::string("m") + ending, "s"));
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
