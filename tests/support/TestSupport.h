#ifndef VANTREL_TESTSUPPORT_H
#define VANTREL_TESTSUPPORT_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Log.h"
#include "tstrings.h"

namespace testsupport {

struct ChildResult {
    std::uint32_t exitCode;
    std::string out; // standard output, bytes as written
    std::string err; // standard error, bytes as written
};

// Environment changes for a child: a value sets the variable, std::nullopt removes it.
typedef std::map<tstring, std::optional<tstring>> EnvChanges;

// Starts exe with args (each passed as exactly one argument), waits for it and captures
// both output streams. Raises on failure to start. beforeRun, when given, runs after the child
// exists and before it executes anything of its own.
ChildResult runChild(const tstring& exe, const tstring_array& args, const EnvChanges& env = {},
                     const tstring& workDir = tstring(),
                     const std::function<void()>& beforeRun = nullptr);

// Text with CR LF line ends (Windows text-mode streams) turned into LF.
std::string withUnixLineEnds(std::string text);

// The directory of the running test binary; fixture programs are built beside it.
tstring binaryDir();
// A fixture program beside the test binary, by base name ("launchfixture").
tstring fixturePath(const tstring& baseName);

// A fresh directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const tstring& path() const { return dir; }

private:
    tstring dir;
};

// Records the events of the default logger while it lives, then puts the old sink back.
class LogRecorder : public LogAppender {
public:
    LogRecorder() : previous(Logger::getDefault().getAppender()) {
        Logger::getDefault().setAppender(this);
    }
    ~LogRecorder() override { Logger::getDefault().setAppender(previous); }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    void append(const LogEvent& event) override { events.push_back(event); }
    // "LEVEL: message" of every event, in order.
    std::vector<tstring> lines() const;
    // The events of one level, in order.
    std::vector<LogEvent> at(const tstring& level) const;
    // Messages of one level (any level when empty) that begin with prefix, in order.
    tstring_array messages(const tstring& level = tstring(),
                           const tstring& prefix = tstring()) const;
    void clear() { events.clear(); }

    std::vector<LogEvent> events;

private:
    LogAppender* previous;
};

void writeFile(const tstring& path, const std::string& bytes);
std::string readFile(const tstring& path);
void makeDirectories(const tstring& path);

// The system's own description of an error code, read without the launcher's code, as error
// messages show it: on one line, without a closing period.
std::string systemDescription(std::uint32_t code);
// A function of the system's own library, whose module describes its error codes.
const void* systemLibraryFunction();

} // namespace testsupport

#endif
