#ifndef VANTREL_MSIPACKAGE_H
#define VANTREL_MSIPACKAGE_H

#include "tstrings.h"

struct PackOptions;

// The Windows installer of an image, from WiX source through msitools' wixl.
namespace MsiPackage {

// The WiX source for the image at imageDir. File sources are relative to imageDir, where
// wixl runs; iconSource is the icon's path relative to it as well.
std::string wixSource(const PackOptions& options, const tstring& imageDir,
                      const tstring& iconSource);

// Writes the installer of the image at imageDir to msiPath, using workDir for its source.
void write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
           const tstring& msiPath);

} // namespace MsiPackage

#endif
