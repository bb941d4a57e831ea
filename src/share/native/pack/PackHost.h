#ifndef VANTREL_PACKHOST_H
#define VANTREL_PACKHOST_H

#include <functional>
#include <string>

#include "PackOptions.h"
#include "tstrings.h"

// What vantrel-pack needs of the system it runs on. Declared once, implemented per platform.
namespace PackHost {

// The target that an image gets when none is asked for.
const PackTarget& defaultTarget();

// Of the programs in a JDK's bin directory: "" or ".exe".
extern const wchar_t* const executableSuffix;

struct ProcessResult {
    int exitCode;
    std::string out; // standard output, bytes as written
    std::string err; // standard error, bytes as written
};

// Runs program with args (each one argument for it) to its end, with no input and both
// output streams captured. Raises when it can't be started.
ProcessResult runProcess(const tstring& program, const tstring_array& args);

// Runs program as runProcess does, with secret readable at the path that makeArgs puts on its
// command line. On Linux the path names a pipe that only the child holds, so the secret is in
// no file and nothing of it outlives the run, whatever ends it; on Windows it names a file
// created for this user alone in the user's temporary folder, removed at the end.
ProcessResult runProcessWithSecret(const tstring& program, const std::string& secret,
                                   const std::function<tstring_array(const tstring&)>& makeArgs);

// From here on an interrupt (Ctrl-C) or a termination request only marks the run as stopped,
// so that it can remove what it began; a running child is asked to end too.
void watchStopRequests();
// Raises when a stop was requested; called between steps and while copying.
void checkNotStopped();

} // namespace PackHost

#endif
