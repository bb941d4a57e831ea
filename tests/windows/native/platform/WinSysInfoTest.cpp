#include "WinApi.h"

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "WinSysInfo.h"
#include "WinSystemText.h"

TEST(WinSysInfo, MissingVariableRaisesWithCode203FromTheHelper) {
    try {
        SysInfo::getEnvVariable(L"VT_WINSYSINFO_NEVER_SET");
        FAIL() << "no error raised";
    } catch (const VtError<SysError>& error) {
        const std::string bare =
            "GetEnvironmentVariable(VT_WINSYSINFO_NEVER_SET) failed. Variable not set. " +
            systemPart(203);
        EXPECT_EQ(bare, error.bareMessage());
        const std::string what = error.what();
        EXPECT_EQ(0u, what.find("SysInfo.cpp(")) << what;
        EXPECT_NE(std::string::npos,
                  what.find(") at SysInfo::{anonymous}::getEnvVariableImpl(): " + bare))
            << what;
    }
}

TEST(WinSysInfo, RefusedVariableNameRaisesWithTheSystemCode) {
    SetLastError(0);
    ASSERT_FALSE(SetEnvironmentVariableW(L"", L"x")) << "the system accepts an empty name";
    const DWORD code = GetLastError();
    try {
        SysInfo::setEnvVariable(L"", L"x");
        FAIL() << "no error raised";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ("SetEnvironmentVariable(, x) failed. " + systemPart(code), error.bareMessage());
    }
}

TEST(WinSysInfo, SystemDirIsTheSystemsWithoutTrailingSeparator) {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(FileUtils::trimTrailingSeparators(tstring(buffer, length)), SysInfo::getSystemDir());
}

TEST(WinSysInfo, FullPathNameKeepsPathsLongerThan260Characters) {
    tstring deep = L"C:\\";
    while (deep.size() < 400) {
        deep += tstring(60, L'd') + L"\\";
    }
    EXPECT_EQ(deep + L"app.exe", SysInfo::getFullPathName(deep + L"x\\..\\.\\app.exe"));
}
