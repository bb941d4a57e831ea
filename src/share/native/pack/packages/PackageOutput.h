#ifndef VANTREL_PACKAGEOUTPUT_H
#define VANTREL_PACKAGEOUTPUT_H

#include <cstdint>
#include <memory>

#include "StagingImage.h"
#include "tstrings.h"

// Where a package file is made: DEST is created when missing, a hidden work folder beside
// the result holds everything on the way, and commit moves the finished file into place as
// DEST/fileName. Until then a failure leaves nothing: the work folder goes, and so do the
// folders this made for DEST while they are empty.
class PackageOutput {
public:
    PackageOutput(const tstring& dest, const tstring& fileName);
    PackageOutput(const PackageOutput&) = delete;
    PackageOutput& operator=(const PackageOutput&) = delete;

    // A folder of its own for the package writer's files, removed at the end.
    const tstring& workDir() const { return work->root(); }
    // Where the writer puts the package, inside the work folder.
    const tstring& file() const { return partialFile; }
    const tstring& finalPath() const { return target; }
    std::uint64_t fileSize() const;
    // Refuses a DEST/fileName that has come to exist meanwhile, and never replaces it.
    void commit();

private:
    std::unique_ptr<StagingImage> work;
    tstring partialFile;
    tstring target;
    bool committed = false;
};

#endif
