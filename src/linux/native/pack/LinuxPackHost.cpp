// vantrel-pack on Linux: child processes through posix_spawn, paths as UTF-8.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ErrorHandling.h"
#include "PackFiles.h"
#include "PackHost.h"

extern char** environ;

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

// A file descriptor that closes when it goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() {
        if (fd >= 0) {
            close(fd);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

[[noreturn]] void raiseSystemError(const char* call, const tstring& program, int error,
                                   const void* function) {
    VT_RAISE(SysError(tstrings::TextBuilder()
                          << L"cannot run " << program << L": " << call << L"() failed",
                      function, static_cast<std::uint32_t>(error)));
}

// An unnamed file in the temporary directory: a child writes as much as it likes into it, and
// nothing stays behind whatever happens.
UniqueFd makeCaptureFile(const tstring& program) {
    const int fd = open(P_tmpdir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        raiseSystemError("open", program, errno, functionAddress(&open));
    }
    return UniqueFd(fd);
}

std::string readAll(const UniqueFd& file) {
    std::string result;
    char buffer[8192];
    lseek(file.get(), 0, SEEK_SET);
    for (ssize_t n; (n = read(file.get(), buffer, sizeof(buffer))) > 0;) {
        result.append(buffer, static_cast<std::size_t>(n));
    }
    return result;
}

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions; }

private:
    posix_spawn_file_actions_t actions;
};

} // namespace

namespace PackHost {

const wchar_t* const executableSuffix = L"";

void watchStopRequests() {
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the wait for a child returns, so that the child can be stopped too.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

void checkNotStopped() {
    if (stopRequested) {
        VT_RAISE("interrupted");
    }
}

const PackTarget& defaultTarget() {
    return PackTargets::linux64;
}

ProcessResult runProcess(const tstring& program, const tstring_array& args) {
    std::vector<std::string> texts{tstrings::toUtf8(program)};
    for (const tstring& arg : args) {
        texts.push_back(tstrings::toUtf8(arg));
    }
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);

    const UniqueFd out = makeCaptureFile(program);
    const UniqueFd err = makeCaptureFile(program);
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), out.get(), 1);
    posix_spawn_file_actions_adddup2(actions.get(), err.get(), 2);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], actions.get(), nullptr, argv.data(), environ);
    if (error != 0) {
        raiseSystemError("posix_spawn", program, error, functionAddress(&posix_spawn));
    }
    int status = 0;
    bool childStopped = false;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            raiseSystemError("waitpid", program, errno, functionAddress(&waitpid));
        }
        if (stopRequested && !childStopped) {
            kill(pid, SIGTERM);
            childStopped = true;
        }
    }
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ProcessResult{exitCode, readAll(out), readAll(err)};
}

} // namespace PackHost

namespace PackFiles {

std::filesystem::path fsPath(const tstring& path) {
    return std::filesystem::path(tstrings::toUtf8(path));
}

tstring fromFsPath(const std::filesystem::path& path) {
    return tstrings::fromUtf8(path.string());
}

} // namespace PackFiles
