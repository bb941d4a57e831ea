#ifndef VANTREL_DEBPACKAGE_H
#define VANTREL_DEBPACKAGE_H

#include <string>

#include "tstrings.h"

struct PackOptions;

// The Debian package of a Linux image, built with dpkg-deb: the image under /opt/PKG,
// /usr/bin/PKG linking to its launcher (and /usr/bin/PKG-name to each extra one), and the
// desktop's files of DesktopFiles.
namespace DebPackage {

// Checks before anything is written: the tools are there, the icon has a PNG image.
void check(const PackOptions& options);

// Moves the image at imageDir into a package tree in workDir and writes the package to
// debPath; returns the warnings for the user.
tstring_array write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
                    const tstring& debPath);

} // namespace DebPackage

#endif
