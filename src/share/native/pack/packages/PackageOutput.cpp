#include "PackageOutput.h"

#include <filesystem>
#include <system_error>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"

namespace fs = std::filesystem;

PackageOutput::PackageOutput(const tstring& dest, const tstring& fileName)
    // The work folder makes DEST and, when nothing is committed, removes the folders it made
    // for it while they are empty.
    : work(std::make_unique<StagingImage>(dest, fileName)),
      target(FileUtils::joinPath(dest, fileName)) {
    partialFile = FileUtils::joinPath(work->root(), fileName);
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
    std::error_code error;
    PackFiles::renameNoReplace(partialFile, target, error);
    if (error && PackFiles::exists(target)) {
        VT_RAISE(tstrings::TextBuilder() << target << L" already exists");
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot move the package to " << target << L": " << error.message());
    }
    committed = true;
}
