#ifndef VANTREL_ARCHIVEKEY_H
#define VANTREL_ARCHIVEKEY_H

#include <string>

#include "tstrings.h"

class CfgFile;

// What selects an archive: every file and option that the runtime checks it against or that
// changes what it holds. A new key is a new archive; the old one is never used again.
struct ArchiveKey {
    // What the start knows beyond the configuration.
    struct Sources {
        std::string release; // the runtime's "release" file
        tstring jvmLibPath;
        tstring launcherPath;
        tstring_array options; // every Java option, the option variables' included
    };

    static ArchiveKey of(const CfgFile& cfg, const Sources& sources);

    tstring hash;        // 16 hexadecimal digits
    tstring classFolder; // the first folder of classes on the paths; empty when none
};

#endif
