// The per-user cache on Windows: under %LOCALAPPDATA%, which holds what may be thrown away.
#include "WinApi.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "UserCache.h"
#include "WinHandle.h"

namespace UserCache {

namespace {

// 100-ns intervals between 1601 and 1970.
const std::int64_t unixEpochInFileTime = 116444736000000000LL;

std::int64_t toUnixNanoseconds(const FILETIME& time) {
    const std::int64_t ticks =
        (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - unixEpochInFileTime) * 100;
}

// "C:\x" and "\\server\share\x"; a path relative to a drive's current directory is not.
bool isAbsolute(const tstring& path) {
    return (path.size() >= 3 && path[1] == L':' && FileUtils::isPathSeparator(path[2])) ||
           (path.size() >= 2 && FileUtils::isPathSeparator(path[0]) &&
            FileUtils::isPathSeparator(path[1]));
}

bool isDirectory(const tstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// The user that this process runs as, as its token names it.
class CurrentUser {
public:
    CurrentUser() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            raiseFailedFileCall("OpenProcessToken", L"", functionAddress(&OpenProcessToken));
        }
        const UniqueHandle owner(token);
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        data.resize(size);
        if (!GetTokenInformation(token, TokenUser, data.data(), size, &size)) {
            raiseFailedFileCall("GetTokenInformation", L"", functionAddress(&GetTokenInformation));
        }
    }

    PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(data.data())->User.Sid; }

    // Full control for this user alone, inherited by everything made inside; nothing
    // inherited from the parent folder.
    tstring privateDescriptor() const {
        wchar_t* text = nullptr;
        if (!ConvertSidToStringSidW(sid(), &text)) {
            raiseFailedFileCall("ConvertSidToStringSid", L"",
                                functionAddress(&ConvertSidToStringSidW));
        }
        const std::unique_ptr<wchar_t, LocalFreer> owner(text);
        return tstring(L"O:") + text + L"D:P(A;OICI;FA;;;" + text + L")";
    }

private:
    std::vector<BYTE> data;
};

bool isSystemOrAdministrators(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// This user's alone: owned by the user, and no one else but the system may change it.
bool isPrivate(const tstring& dir, const CurrentUser& user) {
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(dir.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const std::unique_ptr<void, LocalFreer> kept(descriptor);
    if (acl == nullptr || !(EqualSid(owner, user.sid()) || isSystemOrAdministrators(owner))) {
        return false; // no DACL at all grants everyone everything
    }
    const DWORD changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_FILE |
                          FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                          WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD index = 0; index < acl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(acl, index, &entry)) {
            return false;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            continue; // denials take rights away
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID trustee = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & changes) != 0 && !EqualSid(trustee, user.sid()) &&
            !isSystemOrAdministrators(trustee)) {
            return false;
        }
    }
    return true;
}

void makeMissingDirectories(const tstring& dir, const tstring& descriptorText) {
    const tstring parent = FileUtils::parentPath(dir);
    if (!isDirectory(dir) && !parent.empty() && parent != dir && !isDirectory(parent)) {
        makeMissingDirectories(parent, descriptorText);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            descriptorText.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        raiseFailedFileCall("ConvertStringSecurityDescriptorToSecurityDescriptor", dir,
                            functionAddress(&ConvertStringSecurityDescriptorToSecurityDescriptorW));
    }
    const std::unique_ptr<void, LocalFreer> kept(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    // Another process may make it at the same time: only the final state counts.
    if (!CreateDirectoryW(dir.c_str(), &attributes) && !isDirectory(dir)) {
        raiseFailedFileCall("CreateDirectory", dir, functionAddress(&CreateDirectoryW));
    }
}

} // namespace

tstring baseDir() {
    const tstring local = SysInfo::getEnvVariable(std::nothrow, L"LOCALAPPDATA", tstring());
    return isAbsolute(local) ? local : tstring();
}

bool stamp(const tstring& path, FileStamp& result) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (FileUtils::hasEmbeddedNul(path) ||
        !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    result.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    result.modified = toUnixNanoseconds(data.ftLastWriteTime);
    result.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

tstring_array listDirectory(const tstring& dir) {
    WIN32_FIND_DATAW data;
    const tstring pattern = FileUtils::joinPath(dir, L"*");
    HANDLE found = FindFirstFileW(pattern.c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) {
        raiseFailedFileCall("FindFirstFile", pattern, functionAddress(&FindFirstFileW));
    }
    const std::unique_ptr<void, FindCloser> owner(found);
    tstring_array names;
    do {
        const tstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(found, &data));
    return names;
}

tstring makeDirectories(const tstring& dir) {
    const CurrentUser user;
    makeMissingDirectories(dir, user.privateDescriptor());
    // What lies here is run as the application's code: nobody else may put it there. The
    // folders below the cache base are checked, down to this one; the base itself is the
    // system's.
    const tstring base = baseDir();
    const bool belowBase = !base.empty() && dir.size() > base.size() &&
                           tstrings::startsWith(dir, base) &&
                           FileUtils::isPathSeparator(dir[base.size()]);
    for (tstring folder = dir; folder == dir || (belowBase && folder.size() > base.size() + 1);
         folder = FileUtils::parentPath(folder)) {
        if (!isPrivate(folder, user)) {
            VT_RAISE(tstrings::TextBuilder() << folder << L" is not private to this user");
        }
    }
    return dir;
}

void createEmptyFile(const tstring& path) {
    if (!createNewFile(path)) {
        SetLastError(ERROR_FILE_EXISTS);
        raiseFailedFileCall("CreateFile", path, functionAddress(&CreateFileW));
    }
}

bool createNewFile(const tstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
        return false;
    }
    if (!file) {
        raiseFailedFileCall("CreateFile", path, functionAddress(&CreateFileW));
    }
    return true;
}

bool replaceFile(const tstring& from, const tstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const tstring& path) {
    // The runtime makes its archive read-only.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != 0;
}

bool readFile(const tstring& path, std::uint64_t maxBytes, std::string& bytes) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size) ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    return bytes.empty() ||
           (ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) &&
            got == bytes.size());
}

bool writeFile(const tstring& path, const std::string& bytes, bool append) {
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

bool copyFile(const tstring& from, const tstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

bool touch(const tstring& path) {
    const UniqueFileHandle file(CreateFileW(
        path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return file && SetFileTime(file.get(), nullptr, nullptr, &time);
}

bool truncateFile(const tstring& path, std::uint64_t size) {
    const UniqueFileHandle file(CreateFileW(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    return file && SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) &&
           SetEndOfFile(file.get());
}

std::uint64_t freeBytes(const tstring& dir) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr)) {
        return 0;
    }
    return available.QuadPart;
}

std::uint64_t processId() {
    return GetCurrentProcessId();
}

void startInBackground(const tstring& program, const tstring& variable, const tstring& value) {
    // This process's environment with the variable set, for the child alone.
    tstring block;
    const std::unique_ptr<wchar_t, decltype(&FreeEnvironmentStringsW)> strings(
        GetEnvironmentStringsW(), &FreeEnvironmentStringsW);
    for (const wchar_t* entry = strings.get(); entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
        block.append(entry).push_back(L'\0');
    }
    block.append(variable + L"=" + value).push_back(L'\0');
    block.push_back(L'\0');

    // Out of the launcher's job, when that allows it, so that the job's end doesn't end it.
    tstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                        BELOW_NORMAL_PRIORITY_CLASS;
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        flags | CREATE_BREAKAWAY_FROM_JOB, &block[0], nullptr, &startup, &info) &&
        !CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, &block[0],
                        nullptr, &startup, &info)) {
        raiseFailedFileCall("CreateProcess", program, functionAddress(&CreateProcessW));
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
}

namespace {

DWORD WINAPI endThisProcessLater(void* milliseconds) {
    Sleep(static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(milliseconds)));
    TerminateProcess(GetCurrentProcess(), 1);
    return 0;
}

} // namespace

void endAfter(unsigned seconds) {
    // Wall time: a job's limit counts only the time spent computing, and a blocked process
    // never reaches it.
    const std::uintptr_t milliseconds = static_cast<std::uintptr_t>(seconds) * 1000;
    const UniqueHandle thread(CreateThread(nullptr, 0, endThisProcessLater,
                                           reinterpret_cast<void*>(milliseconds), 0, nullptr));
    if (!thread) {
        TerminateProcess(GetCurrentProcess(), 1); // unbounded is worse than not at all
    }
}

FileLock::~FileLock() {
    if (handle != invalid) {
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    }
}

FileLock FileLock::take(const tstring& path, bool wait) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        raiseFailedFileCall("CreateFile", path, functionAddress(&CreateFileW));
    }
    FileLock lock(reinterpret_cast<std::intptr_t>(file));
    OVERLAPPED at = {};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0,
                   &at)) {
        return lock;
    }
    if (GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING) {
        return FileLock();
    }
    raiseFailedFileCall("LockFileEx", path, functionAddress(&LockFileEx));
}

std::int64_t now() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return toUnixNanoseconds(time);
}

} // namespace UserCache
