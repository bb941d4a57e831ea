#ifndef VANTREL_RUNTIMELIBRARIES_H
#define VANTREL_RUNTIMELIBRARIES_H

#include "tstrings.h"

// Where a Java runtime image keeps its libraries, per platform: the launcher library in libDir
// of the runtime directory, the others relative to the directory of the launcher library.
namespace JavaRuntime {

struct Layout {
    const wchar_t* libDir;
    const wchar_t* launcherLib;
    const wchar_t* jvmLibDir;
    const wchar_t* jvmLib;
    const wchar_t* splashLib;
};

inline constexpr Layout windowsLayout = {L"bin", L"jli.dll", L"server", L"jvm.dll",
                                         L"splashscreen.dll"};
inline constexpr Layout linuxLayout = {L"lib", L"libjli.so", L"server", L"libjvm.so",
                                       L"libsplashscreen.so"};

// This platform's.
extern const Layout& nativeLayout;
// The launcher library relative to the runtime directory, joined with this platform's separator.
extern const tstring launcherLibCandidate;

} // namespace JavaRuntime

#endif
