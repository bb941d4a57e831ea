#include "UserCache.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "FileUtils.h"
#include "TestSupport.h"

namespace {

// The trustees (as SID strings) that the folder's access list lets change it.
std::vector<std::wstring> whoMayChange(const tstring& dir) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::vector<std::wstring> result;
    if (GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return {L"unknown"};
    }
    for (DWORD index = 0; acl != nullptr && index < acl->AceCount; ++index) {
        void* entry = nullptr;
        GetAce(acl, index, &entry);
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        wchar_t* sid = nullptr;
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            (allowed->Mask & (FILE_ADD_FILE | FILE_DELETE_CHILD | WRITE_DAC)) != 0 &&
            ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid)) {
            result.push_back(sid);
            LocalFree(sid);
        }
    }
    LocalFree(descriptor);
    return result;
}

std::wstring currentUser() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE data[256];
    DWORD size = sizeof(data);
    GetTokenInformation(token, TokenUser, data, size, &size);
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(data)->User.Sid, &sid);
    const std::wstring result = sid;
    LocalFree(sid);
    return result;
}

} // namespace

TEST(WinUserCache, FoldersAreMadeForThisUserAlone) {
    const testsupport::TempDir temp;
    const tstring made = FileUtils::PathBuilder() << temp.path() << L"pkg" << L"cds";
    UserCache::makeDirectories(made);
    for (const tstring& dir : {made, FileUtils::parentPath(made)}) {
        for (const std::wstring& trustee : whoMayChange(dir)) {
            EXPECT_TRUE(trustee == currentUser() || trustee == L"S-1-5-18")
                << tstrings::toUtf8(trustee);
        }
    }
}

TEST(WinUserCache, AFolderThatOthersMayChangeIsRefused) {
    const testsupport::TempDir temp;
    const tstring open = FileUtils::joinPath(temp.path(), L"open");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    ASSERT_TRUE(CreateDirectoryW(open.c_str(), &attributes));
    LocalFree(descriptor);
    const std::vector<std::wstring> trustees = whoMayChange(open);
    if (std::find(trustees.begin(), trustees.end(), L"S-1-1-0") == trustees.end()) {
        GTEST_SKIP() << "the file system keeps no access list of its own (Wine maps modes)";
    }
    try {
        UserCache::makeDirectories(open);
        ADD_FAILURE() << "no failure";
    } catch (const std::exception& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("is not private to this user"))
            << error.what();
    }
}
