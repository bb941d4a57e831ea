#include "StagingImage.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"

namespace fs = std::filesystem;

namespace {

const char* const markText = "This directory is an application image made by vantrel-pack.\n"
                             "vantrel-pack --replace may replace it whole.\n";

[[noreturn]] void raiseFileError(const wchar_t* action, const tstring& path,
                                 const std::error_code& error) {
    VT_RAISE(tstrings::TextBuilder()
             << L"cannot " << action << L" " << path << L": " << error.message());
}

tstring randomSuffix() {
    std::random_device device;
    return tstrings::format(L"%08x", static_cast<unsigned>(device()));
}

void rename(const tstring& from, const tstring& to, std::error_code& error) {
    fs::rename(PackFiles::fsPath(from), PackFiles::fsPath(to), error);
}

} // namespace

namespace ImageMark {

const wchar_t* const fileName = L".vantrel-image";

void write(const tstring& imageRoot) {
    PackFiles::writeFile(FileUtils::joinPath(imageRoot, fileName), markText);
}

bool isOn(const tstring& dir) {
    const tstring mark = FileUtils::joinPath(dir, fileName);
    if (!PackFiles::isDirectory(dir) || !PackFiles::isFile(mark)) {
        return false;
    }
    std::error_code error;
    const std::uintmax_t size = fs::file_size(PackFiles::fsPath(mark), error);
    return !error && size == std::char_traits<char>::length(markText) &&
           PackFiles::readFile(mark) == markText;
}

} // namespace ImageMark

StagingImage::StagingImage(const tstring& dest, const tstring& name, ExistingTarget existing)
    : name(name), existing(existing), target(FileUtils::joinPath(dest, name)) {
    createDest(dest);
    // Hidden and unique: never taken for an image, never in another run's way.
    std::error_code error;
    for (int attempt = 0; staging.empty(); ++attempt) {
        const tstring candidate = hiddenSibling(L"partial");
        if (fs::create_directory(PackFiles::fsPath(candidate), error)) {
            staging = candidate;
        } else if (error || attempt == 100) {
            removeCreatedDirs();
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
    removeCreatedDirs();
}

// One level at a time, so that only the directories this run made are its own: a directory
// that another run creates meanwhile is not.
void StagingImage::createDest(const tstring& dest) {
    std::vector<fs::path> missing;
    for (fs::path path = PackFiles::fsPath(dest); !PackFiles::exists(PackFiles::fromFsPath(path));
         path = path.parent_path()) {
        missing.push_back(path);
        if (path == path.parent_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        std::error_code error;
        if (fs::create_directory(*it, error)) {
            createdDirs.push_back(PackFiles::fromFsPath(*it));
        } else if (error) {
            removeCreatedDirs();
            raiseFileError(L"create", dest, error);
        }
    }
}

// Removing a directory fails while it holds anything, so nothing of another run goes.
void StagingImage::removeCreatedDirs() noexcept {
    for (auto it = createdDirs.rbegin(); it != createdDirs.rend(); ++it) {
        std::error_code ignored;
        fs::remove(PackFiles::fsPath(*it), ignored);
    }
    createdDirs.clear();
}

tstring StagingImage::hiddenSibling(const wchar_t* kind) const {
    return FileUtils::joinPath(FileUtils::parentPath(target),
                               L"." + name + L"." + kind + L"-" + randomSuffix());
}

void StagingImage::checkTarget(const tstring& target, ExistingTarget existing) {
    if (!PackFiles::exists(target)) {
        return;
    }
    if (existing == ExistingTarget::Refuse) {
        VT_RAISE(tstrings::TextBuilder() << target << L" already exists");
    }
    if (!ImageMark::isOn(target)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot replace " << target << L": it is not an image made by vantrel-pack");
    }
}

void StagingImage::commit() {
    checkTarget(target, existing);
    if (PackFiles::exists(target)) {
        replaceTarget();
        return;
    }
    std::error_code error;
    PackFiles::renameNoReplace(staging, target, error);
    if (error && PackFiles::exists(target)) {
        VT_RAISE(tstrings::TextBuilder() << target << L" already exists");
    }
    if (error) {
        raiseFileError(L"move the image to", target, error);
    }
    committed = true;
}

void StagingImage::replaceTarget() {
    const tstring old = hiddenSibling(L"replaced");
    std::error_code error;
    rename(target, old, error);
    if (error) {
        raiseFileError(L"move aside the image", target, error);
    }
    PackFiles::renameNoReplace(staging, target, error);
    if (error) {
        std::error_code restoreError;
        rename(old, target, restoreError);
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot move the image to " << target << L": " << error.message()
                 << (restoreError ? L"; the old image is kept as " + old : tstring()));
    }
    committed = true;
    std::error_code ignored;
    fs::remove_all(PackFiles::fsPath(old), ignored);
}
