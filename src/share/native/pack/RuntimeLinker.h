#ifndef VANTREL_RUNTIMELINKER_H
#define VANTREL_RUNTIMELINKER_H

#include "tstrings.h"

// Makes the image's Java runtime with a JDK's own tools.
namespace RuntimeLinker {

// The JDK given, else JAVA_HOME, else the JDK of the javac found on PATH.
tstring findJdk(const tstring& jlinkFrom);

// The path of one of the JDK's tools ("jlink"); raises when the JDK lacks it.
tstring jdkTool(const tstring& jdk, const tstring& name);

// What jdeps finds that jars (class path entries, absolute) need, as "java.base,java.sql".
tstring modulesOfClassPath(const tstring& jdk, const tstring_array& jars);
// The path of one of the JDK's tools ("jlink"); raises when the JDK lacks it.
tstring jdkTool(const tstring& jdk, const tstring& name);

// What jdeps finds in the graph of a main module found on modulePath (absolute entries).
tstring modulesOfModule(const tstring& jdk, const tstring& module, const tstring_array& modulePath);

// Links the modules into a new runtime at output; jmods, when given, is where they come from.
// moreArgs go to jlink as well.
void link(const tstring& jdk, const tstring& modules, const tstring& jmods, const tstring& output,
          const tstring_array& moreArgs = tstring_array());

// The text of a finished tool's failure, one line: its own messages.
tstring toolFailureText(const tstring& tool, int exitCode, const std::string& out,
                        const std::string& err);

} // namespace RuntimeLinker

#endif
