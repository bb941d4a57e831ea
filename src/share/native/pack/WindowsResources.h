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

// Raises what applying the resources to a copy of launcher would raise, writing nothing.
void checkWindowsResources(const tstring& launcher, const tstring& name,
                           const WindowsResources& resources);

// The one place where the resources go into the launcher copy at exePath; without any resource
// option given the copy stays as the launcher is.
void applyWindowsResources(const tstring& exePath, const tstring& name,
                           const WindowsResources& resources);

#endif
