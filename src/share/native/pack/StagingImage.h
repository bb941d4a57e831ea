#ifndef VANTREL_STAGINGIMAGE_H
#define VANTREL_STAGINGIMAGE_H

#include <vector>

#include "tstrings.h"

// The mark of an image that vantrel-pack made: a file at the image's root, beside the launcher,
// app/ and runtime/, which neither the launcher nor the application reads. Its name and exact
// text make it one that nobody writes by accident.
namespace ImageMark {
extern const wchar_t* const fileName;
void write(const tstring& imageRoot);
bool isOn(const tstring& dir);
} // namespace ImageMark

// What commit does with a DEST/NAME that exists.
enum class ExistingTarget {
    Refuse,
    ReplaceImage, // replaced when it bears the image mark, refused otherwise
};

// A new hidden directory beside DEST/NAME in which a result is put together, moved to
// DEST/NAME by commit. Until then, the object's end removes the staging directory and those of
// the directories it created for DEST that are still empty, deepest first: what another run
// put there meanwhile stays.
class StagingImage {
public:
    StagingImage(const tstring& dest, const tstring& name,
                 ExistingTarget existing = ExistingTarget::Refuse);
    ~StagingImage();
    StagingImage(const StagingImage&) = delete;
    StagingImage& operator=(const StagingImage&) = delete;

    const tstring& root() const { return staging; }
    const tstring& finalPath() const { return target; }
    // Raises unless commit could take target as it is now; the file system is not changed.
    static void checkTarget(const tstring& target, ExistingTarget existing);
    // Moves the staged directory to DEST/NAME. An image it replaces is first moved aside, and
    // removed once the new one is in place; on failure it is put back.
    void commit();

private:
    void createDest(const tstring& dest);
    void removeCreatedDirs() noexcept;
    void replaceTarget();
    tstring hiddenSibling(const wchar_t* kind) const;

    tstring name;
    ExistingTarget existing;
    std::vector<tstring> createdDirs; // outermost first
    tstring staging;
    tstring target;
    bool committed = false;
};

#endif
