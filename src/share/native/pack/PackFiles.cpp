#include "PackFiles.h"

#include <algorithm>
#include <fstream>
#include <random>
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

// The top directory that creating dir would make, or empty text when dir exists.
tstring firstMissingDirectory(const tstring& dir) {
    tstring missing;
    for (fs::path path = PackFiles::fsPath(dir); !path.empty(); path = path.parent_path()) {
        std::error_code ignored;
        if (fs::exists(path, ignored)) {
            break;
        }
        missing = PackFiles::fromFsPath(path);
        if (path == path.parent_path()) {
            break;
        }
    }
    return missing;
}

// Links are followed, so the image holds what they point to; a link back to a directory that
// holds it, or to one that holds the receiving directory, would never end. Failures name the
// entry.
struct CopyWalk {
    std::vector<fs::path> openDirs;
    fs::path receiver;
    tstring_array* danglingLinks;
};

bool isDanglingLink(const fs::path& path, const fs::file_status& status) {
    std::error_code ignored;
    return status.type() == fs::file_type::not_found && fs::is_symlink(path, ignored);
}

void copyEntry(const fs::path& from, const fs::path& to, CopyWalk& walk) {
    PackHost::checkNotStopped();
    std::error_code error;
    const tstring name = PackFiles::fromFsPath(from);
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

tstring randomSuffix() {
    std::random_device device;
    return tstrings::format(L"%08x", static_cast<unsigned>(device()));
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
    const tstring prefix = FileUtils::trimTrailingSeparators(dir);
    return path == dir || (tstrings::startsWith(path, prefix) && path.size() > prefix.size() &&
                           FileUtils::isPathSeparator(path[prefix.size()]));
}

void copyTree(const tstring& from, const tstring& to, tstring_array* danglingLinks) {
    CopyWalk walk;
    // The directory receiving the copy never goes into it.
    std::error_code ignored;
    walk.receiver = fs::canonical(fsPath(to).parent_path(), ignored);
    walk.danglingLinks = danglingLinks;
    copyEntry(fsPath(from), fsPath(to), walk);
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

StagingImage::StagingImage(const tstring& dest, const tstring& name)
    : target(FileUtils::joinPath(dest, name)) {
    createdDest = firstMissingDirectory(dest);
    std::error_code error;
    fs::create_directories(PackFiles::fsPath(dest), error);
    if (error) {
        createdDest.clear();
        raiseFileError(L"create", dest, error);
    }
    // Hidden and unique: never taken for an image, never in another run's way.
    for (int attempt = 0; staging.empty(); ++attempt) {
        const tstring candidate =
            FileUtils::joinPath(dest, L"." + name + L".partial-" + randomSuffix());
        if (fs::create_directory(PackFiles::fsPath(candidate), error)) {
            staging = candidate;
        } else if (error || attempt == 100) {
            removeCreatedDest();
            raiseFileError(L"create a directory in", dest, error);
        }
    }
}

StagingImage::~StagingImage() {
    if (committed) {
        return;
    }
    std::error_code ignored;
    fs::remove_all(PackFiles::fsPath(staging), ignored);
    removeCreatedDest();
}

void StagingImage::removeCreatedDest() noexcept {
    std::error_code ignored;
    if (!createdDest.empty()) {
        fs::remove_all(PackFiles::fsPath(createdDest), ignored);
    }
}

void StagingImage::commit() {
    std::error_code error;
    if (PackFiles::exists(target)) {
        VT_RAISE(tstrings::TextBuilder() << target << L" already exists");
    }
    fs::rename(PackFiles::fsPath(staging), PackFiles::fsPath(target), error);
    if (error) {
        raiseFileError(L"move the image to", target, error);
    }
    committed = true;
}
