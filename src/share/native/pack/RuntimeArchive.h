#ifndef VANTREL_RUNTIMEARCHIVE_H
#define VANTREL_RUNTIMEARCHIVE_H

#include "PackOptions.h"
#include "tstrings.h"

// The base class-data archive of the image's runtime, which every JDK ships: the runtime's own
// classes, mapped by a start that has no archive of the application yet (the first one, or
// one in a fresh container).
namespace RuntimeArchive {

// Makes the base archive with the runtime's own java when it has none and runs here. Returns
// one line that says why the launcher can make no archive with this runtime, or empty text.
tstring complete(const tstring& runtimeDir, const PackTarget& target);

} // namespace RuntimeArchive

#endif
