#ifndef VANTREL_EXECUTOR_H
#define VANTREL_EXECUTOR_H

#include <cstdint>

#include "WinApi.h"
#include "WinHandle.h"
#include "tstrings.h"

// Starts one child process, optionally suspended, hidden and inside a job object, and can wait
// for its exit code. A plain configuration value: it owns no handle and may start any number
// of children.
class Executor {
public:
    explicit Executor(const tstring& appPath) : appPath(appPath) {}

    Executor& setVisible(bool flag) {
        visible = flag;
        return *this;
    }
    Executor& setInheritHandles(bool flag) {
        inheritHandles = flag;
        return *this;
    }
    Executor& setSuspended(bool flag) {
        suspended = flag;
        return *this;
    }
    // The job is made, configured and closed by the caller.
    Executor& setJobObject(HANDLE job) {
        jobObject = job;
        return *this;
    }

    // The arguments that follow the executable on the child's command line.
    tstring_array& arguments() { return args; }
    const tstring_array& arguments() const { return args; }

    // The child's process handle. threadHandleSlot, when given, receives the primary thread's
    // handle (closing what it held before); otherwise that handle is closed at once.
    UniqueHandle startProcess(UniqueHandle* threadHandleSlot = nullptr) const;

    // Runs the child to its end and returns its exit code exactly as the system reports it.
    std::uint32_t execAndWaitForExit() const;

private:
    bool visible = false;
    bool inheritHandles = false;
    bool suspended = false;
    HANDLE jobObject = nullptr;
    tstring_array args;
    tstring appPath;
};

namespace CommandLine {

// One argument written so that the child's standard splitting (CommandLineToArgvW) gives back
// exactly that argument.
tstring quoteArg(const tstring& arg);

// The program name is split by simpler rules: up to the next quotation mark when it starts with
// one, else up to the first blank. It can't hold a quotation mark.
tstring quoteProgramName(const tstring& path);

// The program name followed by the quoted arguments, one space between neighbours.
tstring make(const tstring& programName, const tstring_array& args);

} // namespace CommandLine

#endif
