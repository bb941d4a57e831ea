#include "PackageOutput.h"

#include <filesystem>
#include <system_error>

#include "ErrorHandling.h"
#include "FileUtils.h"

namespace fs = std::filesystem;

namespace {

// The folders that making dir creates, outermost first.
tstring_array missingFolders(const tstring& dir) {
    tstring_array missing;
    fs::path path = PackFiles::fsPath(dir);
    std::error_code ignored;
    while (!path.empty() && !fs::exists(path, ignored) && path != path.parent_path()) {
        missing.insert(missing.begin(), PackFiles::fromFsPath(path));
        path = path.parent_path();
    }
    return missing;
}

} // namespace

PackageOutput::PackageOutput(const tstring& dest, const tstring& fileName)
    : createdFolders(missingFolders(dest)), target(FileUtils::joinPath(dest, fileName)) {
    std::error_code error;
    fs::create_directories(PackFiles::fsPath(dest), error);
    if (error) {
        createdFolders.clear();
        VT_RAISE(tstrings::TextBuilder() << L"cannot create " << dest << L": " << error.message());
    }
    try {
        work = std::make_unique<StagingImage>(dest, fileName);
    } catch (...) {
        removeCreatedFolders();
        throw;
    }
    partialFile = FileUtils::joinPath(work->root(), fileName);
}

PackageOutput::~PackageOutput() {
    work.reset();
    if (!committed) {
        removeCreatedFolders();
    }
}

void PackageOutput::removeCreatedFolders() noexcept {
    // Only while empty: whatever else came to be there stays.
    for (auto it = createdFolders.rbegin(); it != createdFolders.rend(); ++it) {
        std::error_code ignored;
        fs::remove(PackFiles::fsPath(*it), ignored);
    }
    createdFolders.clear();
}

std::uint64_t PackageOutput::fileSize() const {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(PackFiles::fsPath(partialFile), error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot read " << partialFile << L": " << error.message());
    }
    return size;
}

void PackageOutput::commit() {
    if (PackFiles::exists(target)) {
        VT_RAISE(tstrings::TextBuilder() << target << L" already exists");
    }
    std::error_code error;
    fs::rename(PackFiles::fsPath(partialFile), PackFiles::fsPath(target), error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot move the package to " << target << L": " << error.message());
    }
    committed = true;
}
