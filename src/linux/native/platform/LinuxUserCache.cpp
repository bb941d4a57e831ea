// The per-user cache on POSIX file systems; the base directory after the XDG rules.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

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

// Another process may make the same directories at the same time: only the final state counts.
void makeMissingDirectories(const tstring& dir) {
    const tstring parent = FileUtils::parentPath(dir);
    struct stat info;
    if (stat(native(dir).c_str(), &info) != 0 && !parent.empty() && parent != dir) {
        makeMissingDirectories(parent);
    }
    if (mkdir(native(dir).c_str(), 0700) != 0 && errno != EEXIST) {
        raiseFailedFileCall("mkdir", dir, functionAddress(&mkdir));
    }
    if (stat(native(dir).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        raiseFailedFileCall("mkdir", dir, functionAddress(&mkdir));
    }
}

// The user's own group, as systems with a group per user give it (Fedora's and RHEL's default
// umask 002 leaves ~/.cache writable by it): nobody else is in it.
bool isPrivateGroup(gid_t gid) {
    const passwd* user = getpwuid(geteuid());
    const group* own = getgrgid(gid);
    if (gid != getegid() || user == nullptr || own == nullptr ||
        std::string(own->gr_name) != user->pw_name) {
        return false;
    }
    for (char** member = own->gr_mem; *member != nullptr; ++member) {
        if (std::string(*member) != user->pw_name) {
            return false;
        }
    }
    return true;
}

// Others may write to a folder of the way only when it is sticky; the user's private group
// may write to the user's own folders, but not to the cache folder itself.
bool othersCannotWrite(const struct stat& info, bool last) {
    if ((info.st_mode & S_IWOTH) != 0 && (last || !(info.st_mode & S_ISVTX))) {
        return false;
    }
    return (info.st_mode & S_IWGRP) == 0 || (!last && (info.st_mode & S_ISVTX)) ||
           (!last && info.st_uid == geteuid() && isPrivateGroup(info.st_gid));
}

void refuseLinksOfOthers(const std::string& path) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        struct stat info;
        if (lstat(prefix.c_str(), &info) == 0 && S_ISLNK(info.st_mode) &&
            info.st_uid != geteuid() && info.st_uid != 0) {
            VT_RAISE(tstrings::TextBuilder()
                     << tstrings::fromUtf8(prefix) << L" is a link of another user");
        }
        if (end == std::string::npos) {
            return;
        }
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
    if (FileUtils::hasEmbeddedNul(path) || stat(native(path).c_str(), &info) != 0) {
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
        raiseFailedFileCall("opendir", dir, functionAddress(&opendir));
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

tstring makeDirectories(const tstring& dir) {
    makeMissingDirectories(dir);
    // What lies here is run as the application's code: nobody else may put it there, nor
    // swap a folder or link on its way. Links on the given path must be this user's or the
    // system's; the folders of the resolved path, checked from the root, too, and only a sticky
    // one (as /tmp) may be writable by others. The checked path is what is used from then on,
    // so a link swapped afterwards leads nowhere new.
    refuseLinksOfOthers(native(dir));
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        realpath(native(dir).c_str(), nullptr), &std::free);
    if (!resolved) {
        raiseFailedFileCall("realpath", dir, functionAddress(&realpath));
    }
    const std::string path = resolved.get();
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = end == std::string::npos ? path : path.substr(0, end);
        const bool last = end == std::string::npos;
        struct stat info;
        if (lstat(folder.empty() ? "/" : folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            (info.st_uid != geteuid() && (last || info.st_uid != 0)) ||
            !othersCannotWrite(info, last)) {
            VT_RAISE(tstrings::TextBuilder() << (last ? dir : tstrings::fromUtf8(folder))
                                             << L" is not private to this user");
        }
        if (last) {
            return tstrings::fromUtf8(path);
        }
    }
}

void createEmptyFile(const tstring& path) {
    if (!createNewFile(path)) {
        errno = EEXIST;
        raiseFailedFileCall("open", path, functionAddress(&open));
    }
}

bool createNewFile(const tstring& path) {
    const int fd = open(native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        return false;
    }
    if (fd < 0) {
        raiseFailedFileCall("open", path, functionAddress(&open));
    }
    close(fd);
    return true;
}

bool replaceFile(const tstring& from, const tstring& to) {
    return std::rename(native(from).c_str(), native(to).c_str()) == 0;
}

bool readFile(const tstring& path, std::uint64_t maxBytes, std::string& bytes) {
    const int fd = open(native(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    bool read = fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) <= maxBytes;
    if (read) {
        bytes.assign(static_cast<std::size_t>(info.st_size), '\0');
        read = ::read(fd, &bytes[0], bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    close(fd);
    return read;
}

bool writeFile(const tstring& path, const std::string& bytes, bool append) {
    const int fd = open(native(path).c_str(),
                        O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
    if (fd < 0) {
        return false;
    }
    const bool written =
        write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && written;
}

bool copyFile(const tstring& from, const tstring& to) {
    std::string bytes;
    return readFile(from, ~std::uint64_t(0) >> 1, bytes) && writeFile(to, bytes, false);
}

bool removeFile(const tstring& path) {
    return unlink(native(path).c_str()) == 0;
}

bool touch(const tstring& path) {
    return utimensat(AT_FDCWD, native(path).c_str(), nullptr, 0) == 0;
}

bool truncateFile(const tstring& path, std::uint64_t size) {
    return truncate(native(path).c_str(), static_cast<off_t>(size)) == 0;
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

void startInBackground(const tstring& program, const tstring& variable, const tstring& value) {
    // Everything the child needs is made before the fork: other threads may hold locks that
    // the child could never take.
    const std::string path = native(program);
    const std::string setting = native(variable) + "=" + native(value);
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.push_back(*entry);
    }
    environment.push_back(const_cast<char*>(setting.c_str()));
    environment.push_back(nullptr);
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};

    // Forked twice: the background process is nobody's child to wait for, in a session of its
    // own that the terminal's signals don't reach.
    const pid_t child = fork();
    if (child < 0) {
        raiseFailedFileCall("fork", program, functionAddress(&fork));
    }
    if (child == 0) {
        if (setsid() < 0 || fork() != 0) {
            _exit(0);
        }
        const int null = open("/dev/null", O_RDWR);
        for (int stream = 0; stream < 3 && null >= 0; ++stream) {
            dup2(null, stream);
        }
        setpriority(PRIO_PROCESS, 0, 10);
        execve(argv[0], argv, environment.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void endAfter(unsigned seconds) {
    alarm(seconds); // the default action of the signal ends the process
}

FileLock::~FileLock() {
    if (handle != invalid) {
        close(static_cast<int>(handle));
    }
}

FileLock FileLock::take(const tstring& path, bool wait) {
    const int fd = open(native(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        raiseFailedFileCall("open", path, functionAddress(&open));
    }
    FileLock lock(fd);
    int result;
    while ((result = flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (result != 0 && errno == EWOULDBLOCK) {
        return FileLock();
    }
    if (result != 0) {
        raiseFailedFileCall("flock", path, functionAddress(&flock));
    }
    return lock;
}

std::int64_t now() {
    timespec time;
    clock_gettime(CLOCK_REALTIME, &time);
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace UserCache
