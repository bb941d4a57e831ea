#ifndef VANTREL_PACKAGEFILE_H
#define VANTREL_PACKAGEFILE_H

#include "tstrings.h"

// The package name that an application image may carry in "app/.package"; it names the
// per-user directories searched for the configuration file.
class PackageFile {
public:
    // An image without the file has no package name.
    static PackageFile loadFromAppDir(const tstring& appDir);

    // Empty when there is none.
    const tstring& getPackageName() const { return packageName; }

private:
    tstring packageName;
};

#endif
