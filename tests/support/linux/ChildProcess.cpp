#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "TestSupport.h"

extern char** environ;

namespace testsupport {
namespace {

std::vector<std::string> childEnvironment(const EnvChanges& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const tstring name = tstrings::fromUtf8(text.substr(0, text.find('=')));
        if (changes.find(name) == changes.end()) {
            result.push_back(text);
        }
    }
    for (const auto& change : changes) {
        if (change.second) {
            result.push_back(tstrings::toUtf8(change.first) + "=" +
                             tstrings::toUtf8(*change.second));
        }
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(&text[0]);
    }
    result.push_back(nullptr);
    return result;
}

class TempFile {
public:
    TempFile() {
        char name[] = "/tmp/vantrel-child-XXXXXX";
        fd = mkstemp(name);
        if (fd < 0) {
            throw std::runtime_error("mkstemp failed");
        }
        path = name;
    }
    ~TempFile() {
        close(fd);
        unlink(path.c_str());
    }
    std::string contents() const {
        std::string result;
        char buffer[4096];
        lseek(fd, 0, SEEK_SET);
        for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) {
            result.append(buffer, static_cast<std::size_t>(n));
        }
        return result;
    }
    int fd;
    std::string path;
};

} // namespace

ChildResult runChild(const tstring& exe, const tstring_array& args, const EnvChanges& env,
                     const tstring& workDir, const std::function<void()>& beforeRun) {
    std::vector<std::string> argTexts{tstrings::toUtf8(exe)};
    for (const tstring& arg : args) {
        argTexts.push_back(tstrings::toUtf8(arg));
    }
    std::vector<std::string> envTexts = childEnvironment(env);
    std::vector<char*> argv = pointers(argTexts);
    std::vector<char*> envp = pointers(envTexts);
    const std::string dir = tstrings::toUtf8(workDir);
    TempFile out, err;

    // The child is not stopped: running this before the fork is what it can be given.
    if (beforeRun) {
        beforeRun();
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(out.fd, 1);
        dup2(err.fd, 2);
        if (!dir.empty() && chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildResult result;
    result.exitCode = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                        : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    result.out = out.contents();
    result.err = err.contents();
    return result;
}

} // namespace testsupport
