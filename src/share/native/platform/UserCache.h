#ifndef VANTREL_USERCACHE_H
#define VANTREL_USERCACHE_H

#include <cstdint>

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
// Creates the missing directories of the path, only for this user. Raises when the path is
// not a directory afterwards, or when another user could change it or a folder on its way.
void makeDirectories(const tstring& dir);
// Raises when the file exists already or can't be made.
void createEmptyFile(const tstring& path);
// False when the file exists already; raises when it can't be made otherwise.
bool createNewFile(const tstring& path);
// Replaces an existing target.
bool replaceFile(const tstring& from, const tstring& to);
bool removeFile(const tstring& path);
// What this process may still write into the directory's file system.
std::uint64_t freeBytes(const tstring& dir);

std::uint64_t processId();
// Starts the program with no arguments and no standard streams, the variable set to "1" in
// its environment, detached from this process and at a lower priority; it is ended after
// the time limit. Raises when it can't be started.
void startInBackground(const tstring& program, const tstring& variable, unsigned seconds);
// Nanoseconds since 1970, as stamps give them.
std::int64_t now();

} // namespace UserCache

#endif
