#ifndef VANTREL_LAUNCHERSTAMP_H
#define VANTREL_LAUNCHERSTAMP_H

#include "tstrings.h"

// What a packed Windows launcher shows of its application. Empty fields take defaults:
// name: the output file's name without ".exe"; version: "1.0"; description: the name.
// Without a vendor or a copyright, CompanyName or LegalCopyright is left out.
struct LauncherStamp {
    tstring name;
    tstring iconFile; // an .ico file; empty keeps the launcher's icons
    tstring version;  // A[.B[.C[.D]]]
    tstring vendor;
    tstring description;
    tstring copyright;
};

// Writes output as a copy of the launcher (output may be the launcher itself) with the icon
// and the version information of stamp, everything else kept. Nothing is written unless the
// launcher, the icon and the version all pass; the result is assembled beside output and
// renamed into place, so on any failure output is as it was.
void stampLauncher(const tstring& launcher, const tstring& output, const LauncherStamp& stamp);

// Raises what stampLauncher would raise, writing nothing: a bad icon, version or launcher is
// refused before any other work is done.
void checkLauncherStamp(const tstring& launcher, const LauncherStamp& stamp);

#endif
