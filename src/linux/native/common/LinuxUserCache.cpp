// The per-user cache on POSIX file systems; the base directory after the XDG rules.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "UserCache.h"

namespace UserCache {

namespace {

std::string native(const tstring& path) {
    return tstrings::toUtf8(path);
}

bool isAbsolute(const tstring& path) {
    return !path.empty() && path[0] == L'/';
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

[[noreturn]] void raiseErrno(const char* call, const tstring& path, const void* function) {
    const int error = errno;
    VT_RAISE(SysError(tstrings::TextBuilder() << call << L"(" << path << L") failed", function,
                      static_cast<std::uint32_t>(error)));
}

// Another process may make the same directories at the same time: only the final state counts.
void makeMissingDirectories(const tstring& dir) {
    const tstring parent = FileUtils::parentPath(dir);
    struct stat info;
    if (stat(native(dir).c_str(), &info) != 0 && !parent.empty() && parent != dir) {
        makeMissingDirectories(parent);
    }
    if (mkdir(native(dir).c_str(), 0700) != 0 && errno != EEXIST) {
        raiseErrno("mkdir", dir, functionAddress(&mkdir));
    }
    if (stat(native(dir).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        raiseErrno("mkdir", dir, functionAddress(&mkdir));
    }
}

} // namespace

tstring baseDir() {
    const tstring xdg = SysInfo::getEnvVariable(std::nothrow, L"XDG_CACHE_HOME", tstring());
    if (isAbsolute(xdg)) {
        return xdg;
    }
    const tstring home = SysInfo::getEnvVariable(std::nothrow, L"HOME", tstring());
    return isAbsolute(home) ? FileUtils::joinPath(home, L".cache") : tstring();
}

bool stamp(const tstring& path, FileStamp& result) {
    struct stat info;
    if (path.find(L'\0') != tstring::npos || stat(native(path).c_str(), &info) != 0) {
        return false;
    }
    result.size = static_cast<std::uint64_t>(info.st_size);
    result.modified =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    result.directory = S_ISDIR(info.st_mode);
    return true;
}

tstring_array listDirectory(const tstring& dir) {
    const std::unique_ptr<DIR, DirCloser> stream(opendir(native(dir).c_str()));
    if (!stream) {
        raiseErrno("opendir", dir, functionAddress(&opendir));
    }
    tstring_array names;
    while (const dirent* entry = readdir(stream.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(tstrings::fromUtf8(name));
        }
    }
    return names;
}

void makeDirectories(const tstring& dir) {
    makeMissingDirectories(dir);
    // What lies here is run as the application's code: nobody else may put it there.
    struct stat info;
    if (stat(native(dir).c_str(), &info) != 0 || info.st_uid != geteuid() ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        VT_RAISE(tstrings::TextBuilder() << dir << L" is not private to this user");
    }
}

void createEmptyFile(const tstring& path) {
    const int fd = open(native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        raiseErrno("open", path, functionAddress(&open));
    }
    close(fd);
}

bool replaceFile(const tstring& from, const tstring& to) {
    return std::rename(native(from).c_str(), native(to).c_str()) == 0;
}

bool removeFile(const tstring& path) {
    return unlink(native(path).c_str()) == 0;
}

std::uint64_t freeBytes(const tstring& dir) {
    struct statvfs info;
    if (statvfs(native(dir).c_str(), &info) != 0) {
        return 0;
    }
    std::uint64_t bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    // A file size limit fails a write as a full disk would.
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < bytes) {
        bytes = limit.rlim_cur;
    }
    return bytes;
}

std::uint64_t processId() {
    return static_cast<std::uint64_t>(getpid());
}

std::int64_t now() {
    timespec time;
    clock_gettime(CLOCK_REALTIME, &time);
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace UserCache
