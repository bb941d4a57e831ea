#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"

namespace {

std::string systemPart(int code) {
    return "System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (" + std::strerror(code) + "))";
}

} // namespace

TEST(LinuxSysInfo, MissingVariableRaisesWithNoDataFromTheHelper) {
    try {
        SysInfo::getEnvVariable(L"VT_LINUXSYSINFO_NEVER_SET");
        FAIL() << "no error raised";
    } catch (const VtError<SysError>& error) {
        const std::string bare = "GetEnvironmentVariable(VT_LINUXSYSINFO_NEVER_SET) failed. "
                                 "Variable not set. " +
                                 systemPart(ENODATA);
        EXPECT_EQ(bare, error.bareMessage());
        const std::string what = error.what();
        EXPECT_EQ(0u, what.find("SysInfo.cpp(")) << what;
        EXPECT_NE(std::string::npos,
                  what.find(") at SysInfo::{anonymous}::getEnvVariableImpl(): " + bare))
            << what;
    }
}

TEST(LinuxSysInfo, ValueThatIsNoTextCountsAsUnreadable) {
    ASSERT_EQ(0, setenv("VT_LINUXSYSINFO_BYTES", "a\xff", 1));
    EXPECT_EQ(L"d", SysInfo::getEnvVariable(std::nothrow, L"VT_LINUXSYSINFO_BYTES", L"d"));
    try {
        SysInfo::getEnvVariable(L"VT_LINUXSYSINFO_BYTES");
        FAIL() << "no error raised";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ("GetEnvironmentVariable(VT_LINUXSYSINFO_BYTES) failed. " + systemPart(EILSEQ),
                  error.bareMessage());
    }
}

TEST(LinuxSysInfo, RefusedVariableNameRaisesWithErrno) {
    try {
        SysInfo::setEnvVariable(L"A=B", L"x");
        FAIL() << "no error raised";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ("SetEnvironmentVariable(A=B, x) failed. " + systemPart(EINVAL),
                  error.bareMessage());
    }
}

TEST(LinuxSysInfo, SetVariableIsSeenByTheCLibrary) {
    SysInfo::setEnvVariable(L"VT_LINUXSYSINFO_SET", L"caf\u00e9");
    const char* value = std::getenv("VT_LINUXSYSINFO_SET");
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ("caf\xc3\xa9", value);
}

TEST(LinuxSysInfo, SystemDirHoldsTheCLibrary) {
    const tstring dir = SysInfo::getSystemDir();
    EXPECT_EQ(L'/', dir[0]);
    EXPECT_TRUE(FileUtils::pathExists(FileUtils::joinPath(dir, L"libc.so.6")))
        << tstrings::toUtf8(dir);
}
