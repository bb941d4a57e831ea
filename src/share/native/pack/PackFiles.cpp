#include "PackFiles.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackHost.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void raiseFileError(const wchar_t* action, const tstring& path,
                                 const std::error_code& error) {
    VT_RAISE(tstrings::TextBuilder()
             << L"cannot " << action << L" " << path << L": " << error.message());
}

// Links are followed, so the image holds what they point to; a link back to a directory that
// holds it, or to one that holds the receiving directory, would never end. Failures name the
// entry.
struct CopyWalk {
    std::vector<fs::path> openDirs;
    fs::path receiver;
    tstring_array* danglingLinks;
    tstring confinedTo; // links may not lead out of it; empty: anywhere
};

// Of the input, only what is in it goes into an image: a link could bring in any file that
// the user can read (/etc/shadow, ~/.ssh).
void checkLinkStaysWithin(const fs::path& from, const CopyWalk& walk) {
    std::error_code error;
    if (walk.confinedTo.empty() || !fs::is_symlink(from, error)) {
        return;
    }
    const fs::path real = fs::weakly_canonical(from, error);
    if (!error && PackFiles::isWithin(PackFiles::fromFsPath(real), walk.confinedTo)) {
        return;
    }
    VT_RAISE(tstrings::TextBuilder()
             << L"the symbolic link " << PackFiles::fromFsPath(from) << L" leads out of "
             << walk.confinedTo << (error ? tstring() : L", to " + PackFiles::fromFsPath(real)));
}

bool isDanglingLink(const fs::path& path, const fs::file_status& status) {
    std::error_code ignored;
    return status.type() == fs::file_type::not_found && fs::is_symlink(path, ignored);
}

void copyEntry(const fs::path& from, const fs::path& to, CopyWalk& walk) {
    PackHost::checkNotStopped();
    std::error_code error;
    const tstring name = PackFiles::fromFsPath(from);
    checkLinkStaysWithin(from, walk);
    const fs::file_status status = fs::status(from, error);
    if (walk.danglingLinks != nullptr && isDanglingLink(from, status)) {
        walk.danglingLinks->push_back(name);
        return;
    }
    if (!fs::is_directory(status)) {
        if (!error) {
            fs::copy_file(from, to, error);
        }
        if (error) {
            raiseFileError(L"copy", name, error);
        }
        return;
    }
    const fs::path real = fs::canonical(from, error);
    if (std::find(walk.openDirs.begin(), walk.openDirs.end(), real) != walk.openDirs.end()) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot copy " << name << L": it links back to a directory that holds it");
    }
    if (PackFiles::isWithin(PackFiles::fromFsPath(walk.receiver), PackFiles::fromFsPath(real))) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot copy " << name << L": it leads into the destination");
    }
    if (error || !fs::create_directory(to, error)) {
        raiseFileError(L"copy", name, error);
    }
    walk.openDirs.push_back(real);
    for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
        copyEntry(it->path(), to / it->path().filename(), walk);
    }
    if (error) {
        raiseFileError(L"copy", name, error);
    }
    walk.openDirs.pop_back();
}

} // namespace

namespace PackFiles {

bool exists(const tstring& path) {
    std::error_code ignored;
    return fs::symlink_status(fsPath(path), ignored).type() != fs::file_type::not_found && !ignored;
}

bool isDirectory(const tstring& path) {
    std::error_code ignored;
    return fs::is_directory(fsPath(path), ignored);
}

bool isFile(const tstring& path) {
    std::error_code ignored;
    return fs::is_regular_file(fsPath(path), ignored);
}

tstring normalPath(const tstring& path) {
    std::error_code error;
    const fs::path result = fs::weakly_canonical(fs::absolute(fsPath(path), error), error);
    if (error) {
        raiseFileError(L"resolve", path, error);
    }
    return FileUtils::trimTrailingSeparators(fromFsPath(result));
}

bool isWithin(const tstring& path, const tstring& dir) {
    std::error_code error;
    const fs::path real = fs::canonical(fsPath(dir), error);
    if (error) {
        return false;
    }
    for (fs::path ancestor = fs::absolute(fsPath(path), error); !error;
         ancestor = ancestor.parent_path()) {
        std::error_code ignored;
        if (fs::equivalent(ancestor, real, ignored)) {
            return true;
        }
        if (ancestor == ancestor.parent_path()) {
            break;
        }
    }
    return false;
}

void copyTree(const tstring& from, const tstring& to, tstring_array* danglingLinks,
              bool linksStayWithin) {
    CopyWalk walk;
    // The directory receiving the copy never goes into it.
    std::error_code ignored;
    walk.receiver = fs::canonical(fsPath(to).parent_path(), ignored);
    walk.danglingLinks = danglingLinks;
    walk.confinedTo = linksStayWithin ? normalPath(from) : tstring();
    copyEntry(fsPath(from), fsPath(to), walk);
}

void removeUnsafeModes(const tstring& root) {
    const fs::perms unsafe =
        fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit | fs::perms::others_write;
    std::error_code error;
    fs::permissions(fsPath(root), unsafe, fs::perm_options::remove, error);
    for (fs::recursive_directory_iterator it(fsPath(root), error), end; !error && it != end;
         it.increment(error)) {
        // A link's own mode means nothing, and changing it would change its target's.
        if (!it->is_symlink(error) && !error) {
            fs::permissions(it->path(), unsafe, fs::perm_options::remove, error);
        }
    }
    if (error) {
        raiseFileError(L"set the modes in", root, error);
    }
}

void copyFile(const tstring& from, const tstring& to) {
    std::error_code error;
    fs::copy_file(fsPath(from), fsPath(to), error);
    if (error) {
        raiseFileError(L"copy", from, error);
    }
}

void writeFile(const tstring& path, const std::string& bytes) {
    std::ofstream stream(fsPath(path), std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.close();
    if (!stream) {
        raiseFileError(L"write", path, std::make_error_code(std::errc::io_error));
    }
}

std::string readFile(const tstring& path) {
    std::ifstream stream(fsPath(path), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad() || !stream.is_open()) {
        raiseFileError(L"read", path, std::make_error_code(std::errc::io_error));
    }
    return bytes;
}

std::uint64_t treeSize(const tstring& dir) {
    std::uint64_t total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(fsPath(dir), error), end; !error && it != end;
         it.increment(error)) {
        std::error_code ignored;
        if (it->is_regular_file(ignored)) {
            total += it->file_size(ignored);
        }
    }
    if (error) {
        raiseFileError(L"read", dir, error);
    }
    return total;
}

} // namespace PackFiles
