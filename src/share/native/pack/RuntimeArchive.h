#ifndef VANTREL_RUNTIMEARCHIVE_H
#define VANTREL_RUNTIMEARCHIVE_H

#include "PackOptions.h"
#include "tstrings.h"

// The base class-data archive of the image's runtime, which the launcher's archive ("--cds")
// extends and without which it makes none.
namespace RuntimeArchive {

// What jlink gets to write the base archive itself: its own plugin, when the JDK has it and
// the runtime is for this platform.
tstring_array linkArguments(const tstring& jdk, const PackTarget& target);

// Makes the base archive with the runtime's own java when it has none and runs here. Returns
// one line that says why the runtime can't have one, or empty text when it has it.
tstring complete(const tstring& runtimeDir, const PackTarget& target);

} // namespace RuntimeArchive

#endif
