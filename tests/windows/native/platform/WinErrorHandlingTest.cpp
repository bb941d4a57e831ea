#include "WinApi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "ErrorHandling.h"
#include "TestSupport.h"
#include "WinSystemText.h"

namespace {

const void* setEnvAddress() {
    return functionAddress(&SetEnvironmentVariableW);
}

} // namespace

TEST(WinSystemErrorText, FailedCallGetsLabelCodeAndSystemDescription) {
    const SysError error(tstrings::TextBuilder()
                             << "SetEnvironmentVariable(" << L"A" << ", " << L"B" << ") failed",
                         setEnvAddress(), ERROR_ACCESS_DENIED);
    EXPECT_EQ("SetEnvironmentVariable(A, B) failed. System error [5](system error 5 (" +
                  systemDescription(5) + "))",
              error.what());
    // The system's text ends with a period and a line end, which the message leaves out.
    EXPECT_EQ(std::string::npos, std::string(error.what()).find_first_of("\r\n"));
}

TEST(WinSystemErrorText, MessageLabelAndFunctionMayBeMissing) {
    EXPECT_EQ(systemPart(5), SysError(tstrings::TextBuilder(), setEnvAddress(), 5).what());
    EXPECT_EQ("m; " + systemPart(2),
              SysError(tstrings::TextBuilder() << "m;", nullptr, ERROR_FILE_NOT_FOUND).what());
    EXPECT_EQ("m. Some error [5](system error 5 (" + systemDescription(5) + "))",
              SysError(tstrings::TextBuilder() << "m", nullptr, 5, nullptr).what());
}

TEST(WinSystemErrorText, CodeWithoutTextHasNoDescriptionAvailable) {
    const SysError error(tstrings::TextBuilder() << "m", setEnvAddress(), 0xE0001234u);
    EXPECT_STREQ("m. System error [3758101044](system error 3758101044 (No description available))",
                 error.what());
}

TEST(WinSystemErrorText, AddressOutsideEveryModuleIsWarnedAndLeavesTheDescriptionOut) {
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
