// Where a Windows Java runtime image keeps its libraries.
#include "RuntimeLibraries.h"

namespace JavaRuntime {

const wchar_t* const launcherLibCandidate = L"bin\\jli.dll";
const wchar_t* const jvmLibDir = L"server";
const wchar_t* const jvmLibName = L"jvm.dll";
const wchar_t* const splashLibName = L"splashscreen.dll";

} // namespace JavaRuntime
