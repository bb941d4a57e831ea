// vantrel-pack on Linux: child processes through posix_spawn, paths as UTF-8.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ErrorHandling.h"
#include "PackFiles.h"
#include "PackHost.h"

extern char** environ;

namespace {

// Where a child finds a secret handed to it: the first descriptor after the standard ones.
const int secretChildFd = 3;

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
    UniqueFd(UniqueFd&& other) noexcept : fd(other.fd) { other.fd = -1; }
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

// The read end of a pipe that already holds all of secret, its write end closed: a reader
// gets the secret and then the end of the file, and nothing of it is ever on a disk.
UniqueFd makeSecretPipe(const tstring& program, const std::string& secret) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        raiseSystemError("pipe2", program, errno, functionAddress(&pipe2));
    }
    UniqueFd reader(ends[0]);
    const UniqueFd writer(ends[1]);
    // Never blocks: a secret larger than the pipe holds is refused, not waited on.
    fcntl(writer.get(), F_SETFL, O_NONBLOCK);
    const ssize_t written = write(writer.get(), secret.data(), secret.size());
    if (written < 0 || static_cast<std::size_t>(written) != secret.size()) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot pass the password to " << program
                                         << L": it is longer than a pipe holds");
    }
    return reader;
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

} // namespace PackHost

namespace {

// secretFd, when not negative, becomes the child's descriptor 3.
PackHost::ProcessResult runChild(const tstring& program, const tstring_array& args, int secretFd) {
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
    if (secretFd >= 0) {
        posix_spawn_file_actions_adddup2(actions.get(), secretFd, secretChildFd);
    }
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
    return PackHost::ProcessResult{exitCode, readAll(out), readAll(err)};
}

} // namespace

namespace PackHost {

ProcessResult runProcess(const tstring& program, const tstring_array& args) {
    return runChild(program, args, -1);
}

ProcessResult runProcessWithSecret(const tstring& program, const std::string& secret,
                                   const std::function<tstring_array(const tstring&)>& makeArgs) {
    const UniqueFd reader = makeSecretPipe(program, secret);
    return runChild(program, makeArgs(tstrings::format(L"/dev/fd/%d", secretChildFd)),
                    reader.get());
}

} // namespace PackHost

namespace PackFiles {

std::filesystem::path fsPath(const tstring& path) {
    return std::filesystem::path(tstrings::toUtf8(path));
}

tstring fromFsPath(const std::filesystem::path& path) {
    return tstrings::fromUtf8(path.string());
}

void renameNoReplace(const tstring& from, const tstring& to, std::error_code& error) {
    const std::string source = tstrings::toUtf8(from);
    const std::string target = tstrings::toUtf8(to);
    int result = renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    // File systems without the flag: a link never replaces a file. A folder can't have one,
    // and a rename puts it only where nothing is or an empty folder was.
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        result = link(source.c_str(), target.c_str());
        if (result == 0) {
            unlink(source.c_str());
        } else if (errno == EPERM) {
            result = rename(source.c_str(), target.c_str());
        }
    }
    error = result == 0 ? std::error_code() : std::error_code(errno, std::generic_category());
}

void exchange(const tstring& from, const tstring& to, std::error_code& error) {
    const int result = renameat2(AT_FDCWD, tstrings::toUtf8(from).c_str(), AT_FDCWD,
                                 tstrings::toUtf8(to).c_str(), RENAME_EXCHANGE);
    error = result == 0 ? std::error_code() : std::error_code(errno, std::generic_category());
}

void setModificationTime(const std::filesystem::path& path, std::int64_t time,
                         std::error_code& error) {
    const struct timespec times[2] = {{static_cast<time_t>(time), 0},
                                      {static_cast<time_t>(time), 0}};
    const int result = utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    error = result == 0 ? std::error_code() : std::error_code(errno, std::generic_category());
}

} // namespace PackFiles
