#ifndef VANTREL_WINDOWSRESOURCES_H
#define VANTREL_WINDOWSRESOURCES_H

#include "tstrings.h"

// What a Windows launcher copy may carry in its resources. Empty text: not given.
struct WindowsResources {
    tstring icon;
    tstring appVersion;
    tstring vendor;
    tstring description;
    tstring copyright;

    bool empty() const;
    // The options given, as "--icon, --vendor".
    tstring givenOptions() const;
};

// Raises while the image's launcher copy can't take resources yet: asking for them must fail
// before anything is built, never be ignored.
void refuseUnsupportedResources(const WindowsResources& resources);

// The one place where the resources go into the launcher copy at exePath.
void applyWindowsResources(const tstring& exePath, const WindowsResources& resources);

#endif
