#ifndef VANTREL_PACKFILES_H
#define VANTREL_PACKFILES_H

#include <cstdint>
#include <filesystem>
#include <string>

#include "tstrings.h"

// The file system work of packing, over std::filesystem; failures raise with the path named.
namespace PackFiles {

// Paths in the form std::filesystem takes on this platform (wide on Windows, UTF-8 elsewhere).
std::filesystem::path fsPath(const tstring& path);
tstring fromFsPath(const std::filesystem::path& path);

// Renames from to to unless to exists, in one step: another run's file at to is never
// replaced. Implemented per platform.
void renameNoReplace(const tstring& from, const tstring& to, std::error_code& error);
// Swaps from and to, both existing, in one step, so that readers of to see the old or the new
// one and never neither. Fails where the platform can't (Windows). Implemented per platform.
void exchange(const tstring& from, const tstring& to, std::error_code& error);
// Sets path's own modification time (a symbolic link's, not its target's) to time, in seconds
// since 1970. Implemented per platform.
void setModificationTime(const std::filesystem::path& path, std::int64_t time,
                         std::error_code& error);

// Also true for a dangling symbolic link: its name is taken.
bool exists(const tstring& path);
bool isDirectory(const tstring& path);
bool isFile(const tstring& path);
// Absolute, without "." and ".." components; symbolic links resolved where they exist.
tstring normalPath(const tstring& path);
// Whether path is dir or lies below it, by the identity of the directories, so that another
// spelling of a path (case on Windows, links) is noticed; path need not exist.
bool isWithin(const tstring& path, const tstring& dir);

// Symbolic links are followed. With danglingLinks, a link that leads nowhere is skipped and
// listed there; without, it fails the copy. With linksStayWithin, a link that leads out of from
// fails the copy, named.
void copyTree(const tstring& from, const tstring& to, tstring_array* danglingLinks = nullptr,
              bool linksStayWithin = false);
// Removes the setuid, setgid, sticky and others' write bits of root and everything in it.
void removeUnsafeModes(const tstring& root);
void copyFile(const tstring& from, const tstring& to);
void writeFile(const tstring& path, const std::string& bytes);
std::string readFile(const tstring& path);
std::uint64_t treeSize(const tstring& dir);

} // namespace PackFiles

#endif
