#ifndef VANTREL_JAVARUNTIME_H
#define VANTREL_JAVARUNTIME_H

// What the launcher requires of a Java runtime image. The runtime itself lies outside the
// launcher: only the places of its libraries and the call into its launcher library are fixed.

#include "RuntimeLibraries.h"

// The 8-bit boolean of the runtime's C interface.
typedef unsigned char JliBoolean;

// The launcher library's entry: runs the Java application on the calling thread and returns
// when it has finished, 0 for success.
typedef int (*JLI_LaunchFunc)(int argc, char** argv,                 // the JVM command line
                              int jargc, const char** jargv,         // 0, null
                              int appclassc, const char** appclassv, // 0, null
                              const char* fullVersion,               // ""
                              const char* dotVersion,                // ""
                              const char* programName,               // "java"
                              const char* launcherName,              // "java"
                              JliBoolean javaArgs,                   // 0
                              JliBoolean classPathWildcard,          // 0
                              JliBoolean javaw,                      // 0
                              int ergonomics);                       // 0

namespace JavaRuntime {

constexpr const char* launchEntryName = "JLI_Launch";
constexpr const char* programName = "java";
constexpr const char* launcherName = "java";

} // namespace JavaRuntime

#endif
