#ifndef VANTREL_PACKAGES_H
#define VANTREL_PACKAGES_H

#include "PackageOutput.h"
#include "tstrings.h"

struct PackOptions;

// Installable packages made of a staged image.
namespace Packages {

// Before anything is written: this host can make the type, and the tools are there.
void check(const PackOptions& options);

// Turns the image staged at imageDir into the package, at output.file(), and returns the
// warnings for the user. The image may be moved away in the course.
tstring_array write(const PackOptions& options, const tstring& imageDir,
                    const PackageOutput& output);

} // namespace Packages

#endif
