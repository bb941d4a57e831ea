#ifndef VANTREL_RUNTIMELINKER_H
#define VANTREL_RUNTIMELINKER_H

#include "tstrings.h"

// Makes the image's Java runtime with a JDK's own tools.
namespace RuntimeLinker {

// The JDK given, else JAVA_HOME, else the JDK of the javac found on PATH.
tstring findJdk(const tstring& jlinkFrom);

// The path of one of the JDK's tools ("jlink"); raises when the JDK lacks it.
tstring jdkTool(const tstring& jdk, const tstring& name);

// What jdeps finds that the application needs: the files of its class path (absolute), and of
// the module path (absolute entries) the main module's graph when there is one, else every
// module there. Sorted, java.base at least.
tstring_array modulesFound(const tstring& jdk, const tstring_array& classPath,
                           const tstring_array& modulePath, const tstring& mainModule);

// The service provider modules that a linked runtime gets besides those found, of those that
// the jmods (when given, else the JDK) hold.
tstring_array providerModules(const tstring& jdk, const tstring& jmods);

// Refuses a jmods folder without java.base.jmod, or one made for another platform: its
// java.base lacks runtimeLibrary, the target launcher's library ("lib/libjli.so"), or that
// library is an ELF file for another machine than elfMachine (when not 0).
void checkJmods(const tstring& jmods, const tstring& runtimeLibrary, unsigned elfMachine = 0);

// The e_machine of a 64-bit little-endian ELF file's bytes (its start will do), or 0 for
// anything else.
unsigned elfMachine(const std::string& bytes);

// "a,b" and back; the first drops empty names.
tstring_array splitModules(const tstring& list);
tstring joinModules(const tstring_array& modules);

// Links the modules into a new runtime at output; jmods, when given, is where they come from.
// moreArgs go to jlink as well.
void link(const tstring& jdk, const tstring& modules, const tstring& jmods, const tstring& output,
          const tstring_array& moreArgs = tstring_array());

// The text of a finished tool's failure, one line: its own messages.
tstring toolFailureText(const tstring& tool, int exitCode, const std::string& out,
                        const std::string& err);

} // namespace RuntimeLinker

#endif
