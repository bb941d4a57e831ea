#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace {

std::string systemPart(int code) {
    return "System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (" + std::strerror(code) + "))";
}

const void* setEnvAddress() {
    return functionAddress(&setenv);
}

} // namespace

TEST(LinuxSystemErrorText, FailedCallGetsLabelCodeAndSystemDescription) {
    const SysError error(tstrings::TextBuilder()
                             << "SetEnvironmentVariable(" << L"A" << ", " << L"B" << ") failed",
                         setEnvAddress(), EACCES);
    EXPECT_EQ("SetEnvironmentVariable(A, B) failed. System error [13](system error 13 (" +
                  std::string(std::strerror(EACCES)) + "))",
              error.what());
}

TEST(LinuxSystemErrorText, MessageLabelAndFunctionMayBeMissing) {
    EXPECT_EQ(systemPart(EIO), SysError(tstrings::TextBuilder(), setEnvAddress(), EIO).what());
    EXPECT_EQ("m; " + systemPart(ENOENT),
              SysError(tstrings::TextBuilder() << "m;", nullptr, ENOENT).what());
    EXPECT_EQ("m. Some error [5](system error 5 (" + std::string(std::strerror(EIO)) + "))",
              SysError(tstrings::TextBuilder() << "m", nullptr, EIO, nullptr).what());
}

TEST(LinuxSystemErrorText, CodeWithoutTextHasNoDescriptionAvailable) {
    EXPECT_STREQ("m. System error [4000](system error 4000 (No description available))",
                 SysError(tstrings::TextBuilder() << "m", setEnvAddress(), 4000).what());
    // Shown unsigned, as the code is kept.
    EXPECT_STREQ("m. System error [4294967295](system error 4294967295 (No description available))",
                 SysError(tstrings::TextBuilder() << "m", nullptr, 0xFFFFFFFFu).what());
}

TEST(LinuxSystemErrorText, AddressOutsideEveryModuleIsWarnedAndLeavesTheDescriptionOut) {
    const std::unique_ptr<int> heapObject(new int(0));
    testsupport::LogRecorder recorder;
    const SysError error(tstrings::TextBuilder() << "m", heapObject.get(), EIO);
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
