#ifndef VANTREL_PACKTOOL_H
#define VANTREL_PACKTOOL_H

#include "PackOptions.h"
#include "tstrings.h"

// vantrel-pack: builds a runnable application image from an application's files, a launcher
// and a Java runtime.
namespace PackTool {

// The whole command with its arguments (program name excluded); toolPath is the running
// executable, below which the installed launchers are found. Returns the exit code: 0, 1 for
// a failure, 2 for a usage error.
int run(const tstring_array& args, const tstring& toolPath);

// Where the launcher of a target is installed beside the tool.
tstring installedLauncher(const tstring& toolPath, const PackTarget& target);

} // namespace PackTool

#endif
