#ifndef VANTREL_WINAPI_H
#define VANTREL_WINAPI_H

// The one way into the Windows headers: every Windows source includes this first, so that all
// of them see the same API level and none gets the min/max macros or the rarely used headers.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// Windows 10; redefined in case a C++ header already brought in the toolchain's default.
#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0A00

#include <windows.h>

#endif
