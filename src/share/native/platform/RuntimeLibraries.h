#ifndef VANTREL_RUNTIMELIBRARIES_H
#define VANTREL_RUNTIMELIBRARIES_H

// Where a Java runtime image of this platform keeps its libraries. The launcher library
// relative to the runtime directory, the others relative to the directory of the launcher
// library.
namespace JavaRuntime {

extern const wchar_t* const launcherLibCandidate;
extern const wchar_t* const jvmLibDir;
extern const wchar_t* const jvmLibName;
extern const wchar_t* const splashLibName;

} // namespace JavaRuntime

#endif
