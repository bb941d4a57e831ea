#ifndef VANTREL_INPUTNAMES_H
#define VANTREL_INPUTNAMES_H

#include "tstrings.h"

struct PackOptions;

// The names in the input, checked before anything is built: each must reach the image or the
// package exactly.
namespace InputNames {

// What Windows can't create: reserved and control characters, a trailing dot or space, a
// device name ("aux", "CON.txt"), "." and "..".
bool windowsCanHold(const tstring& name);

// The entry of dir that Windows takes for name, which differs from it in case; empty when none.
tstring windowsTwin(const tstring& dir, const tstring& name);

// Raises, naming the first file whose name the target or the package can't hold: for the
// Windows targets what Windows can't create and names equal but for case; for a package a name
// that isn't UTF-8; for a zip a backslash or a control character, which unpackers change. Links to
// folders are followed, as the copy follows them.
void check(const tstring& input, const PackOptions& options);

} // namespace InputNames

#endif
