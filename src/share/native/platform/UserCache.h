#ifndef VANTREL_USERCACHE_H
#define VANTREL_USERCACHE_H

#include <cstdint>
#include <string>
#include <utility>

#include "tstrings.h"

// What the per-user cache of the launcher needs of the file system and of its own process.
// Declared once, implemented per platform. Files here may be thrown away and made again, so
// removing and replacing are best effort and only report whether they worked.
namespace UserCache {

struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since 1970
    bool directory = false;
};

// The base of this user's cache directories; empty when the platform names none or names a
// relative directory.
tstring baseDir();

// False when the path names nothing.
bool stamp(const tstring& path, FileStamp& result);
// The names of a directory's entries. Raises when it can't be read.
tstring_array listDirectory(const tstring& dir);
// Creates the missing directories of the path, only for this user, and returns the path as
// checked, links resolved: what is used from then on. Raises when the path is not a directory
// afterwards, or when another user could change it or a folder or link on its way.
tstring makeDirectories(const tstring& dir);
// Raises when the file exists already or can't be made.
void createEmptyFile(const tstring& path);
// False when the file exists already; raises when it can't be made otherwise.
bool createNewFile(const tstring& path);
// Replaces an existing target.
bool replaceFile(const tstring& from, const tstring& to);
bool removeFile(const tstring& path);
// The whole file when it is no longer than maxBytes; false when it can't be read or is longer.
bool readFile(const tstring& path, std::uint64_t maxBytes, std::string& bytes);
// Writes the file anew, or appends to it.
bool writeFile(const tstring& path, const std::string& bytes, bool append);
// Replaces an existing target.
bool copyFile(const tstring& from, const tstring& to);
// Gives the file this moment as its modification time: it was used.
bool touch(const tstring& path);
// Cuts the file to its first size bytes.
bool truncateFile(const tstring& path, std::uint64_t size);
// What this process may still write into the directory's file system.
std::uint64_t freeBytes(const tstring& dir);

std::uint64_t processId();
// Starts the program with no arguments and no standard streams, the variable set to value in
// its environment, detached from this process and at a lower priority. Raises when it can't
// be started.
void startInBackground(const tstring& program, const tstring& variable,
                       const tstring& value = L"1");
// Ends this process after the given wall time, whatever it is doing or waiting for then.
void endAfter(unsigned seconds);

// An exclusive lock on a file, which the system releases when the process ends, however it
// ends: what tells work that a live process does from what a dead one left.
class FileLock {
public:
    FileLock() = default;
    FileLock(FileLock&& other) noexcept : handle(other.handle) { other.handle = invalid; }
    FileLock& operator=(FileLock&& other) noexcept {
        if (this != &other) {
            const FileLock released(std::move(*this));
            handle = other.handle;
            other.handle = invalid;
        }
        return *this;
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // The lock of the file, which is made when missing. Without wait, an empty FileLock when
    // another process holds it. Raises when the file can't be opened.
    static FileLock take(const tstring& path, bool wait);

    explicit operator bool() const { return handle != invalid; }

private:
    static constexpr std::intptr_t invalid = -1;
    explicit FileLock(std::intptr_t handle) : handle(handle) {}
    std::intptr_t handle = invalid;
};
// Nanoseconds since 1970, as stamps give them.
std::int64_t now();

} // namespace UserCache

#endif
