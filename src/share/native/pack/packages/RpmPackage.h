#ifndef VANTREL_RPMPACKAGE_H
#define VANTREL_RPMPACKAGE_H

#include "tstrings.h"

struct PackOptions;

// The rpm package of a Linux image, built with rpmbuild: the image under /opt/PKG and
// /usr/bin/PKG linking to its launcher, as in the Debian package.
namespace RpmPackage {

// Checks before anything is written: rpmbuild is there, the icon has a PNG image.
void check(const PackOptions& options);

// Moves the image at imageDir into a package tree in workDir and writes the package to
// rpmPath.
void write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
           const tstring& rpmPath);

} // namespace RpmPackage

#endif
