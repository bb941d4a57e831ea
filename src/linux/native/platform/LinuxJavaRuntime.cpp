// Where a Linux Java runtime image keeps its libraries.
#include "RuntimeLibraries.h"

namespace JavaRuntime {

const wchar_t* const launcherLibCandidate = L"lib/libjli.so";
const wchar_t* const jvmLibDir = L"server";
const wchar_t* const jvmLibName = L"libjvm.so";
const wchar_t* const splashLibName = L"libsplashscreen.so";

} // namespace JavaRuntime
