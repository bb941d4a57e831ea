// The per-user cache on Windows: under %LOCALAPPDATA%, which holds what may be thrown away.
#include "WinApi.h"

#include <memory>

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

[[noreturn]] void raiseLastError(const char* call, const tstring& path, const void* function) {
    const DWORD code = GetLastError();
    VT_RAISE(
        SysError(tstrings::TextBuilder() << call << L"(" << path << L") failed", function, code));
}

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};

} // namespace

tstring baseDir() {
    const tstring local = SysInfo::getEnvVariable(std::nothrow, L"LOCALAPPDATA", tstring());
    return isAbsolute(local) ? local : tstring();
}

bool stamp(const tstring& path, FileStamp& result) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.find(L'\0') != tstring::npos ||
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
        raiseLastError("FindFirstFile", pattern, functionAddress(&FindFirstFileW));
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

void makeDirectories(const tstring& dir) {
    const tstring parent = FileUtils::parentPath(dir);
    if (!isDirectory(dir) && !parent.empty() && parent != dir && !isDirectory(parent)) {
        makeDirectories(parent);
    }
    // Another process may make it at the same time: only the final state counts.
    if (!CreateDirectoryW(dir.c_str(), nullptr) && !isDirectory(dir)) {
        raiseLastError("CreateDirectory", dir, functionAddress(&CreateDirectoryW));
    }
}

void createEmptyFile(const tstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        raiseLastError("CreateFile", path, functionAddress(&CreateFileW));
    }
}

bool replaceFile(const tstring& from, const tstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const tstring& path) {
    // The runtime makes its archive read-only.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != 0;
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

std::int64_t now() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return toUnixNanoseconds(time);
}

} // namespace UserCache
