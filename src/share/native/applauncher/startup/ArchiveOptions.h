#ifndef VANTREL_ARCHIVEOPTIONS_H
#define VANTREL_ARCHIVEOPTIONS_H

#include "tstrings.h"

class CfgFile;

// What the Java options of a start allow of a class-data archive.
namespace ArchiveOptions {

// The Java options of the starts that run the application: those the runtime reads from its
// option variables (space-separated in envOptions), then the configuration's.
tstring_array ofStarts(const CfgFile& cfg, const tstring& envOptions);
// Those and the configuration's options for making an archive.
tstring_array all(const CfgFile& cfg, const tstring& envOptions);

// Why the options allow no archive; empty text when they allow one.
tstring reasonForNone(const tstring_array& options);

// The options that decide what an archive holds and whether the runtime maps it, which its
// creation must run with too: nothing that shows a window, writes a file or runs code.
tstring_array forCreation(const tstring_array& options);

} // namespace ArchiveOptions

#endif
