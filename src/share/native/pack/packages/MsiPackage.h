#ifndef VANTREL_MSIPACKAGE_H
#define VANTREL_MSIPACKAGE_H

#include "MsiTables.h"
#include "tstrings.h"

struct PackOptions;

// The Windows installer of an image, from WiX source through msitools' wixl.
namespace MsiPackage {

// Raises when a tool it needs is missing.
void check();

// The WiX source for the image at imageDir with the icon (an .ico, or an executable that holds
// one). wixl runs in sourceDir, which gets the files under names of ours; every text of ours is
// a token of texts.
std::string wixSource(const PackOptions& options, const tstring& imageDir, const tstring& icon,
                      const tstring& sourceDir, MsiTables::Texts& texts);

// Writes the installer of the image at imageDir to msiPath, using workDir for its source.
void write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
           const tstring& msiPath);

} // namespace MsiPackage

#endif
