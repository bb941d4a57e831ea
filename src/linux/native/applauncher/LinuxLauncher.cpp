// The Linux launcher: process entry, its steps of the launch sequence (runtime library loading),
// and the return of a process that the runtime's launcher library has re-executed.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Dll.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "JvmLauncher.h"
#include "LaunchSequence.h"
#include "Log.h"
#include "SysInfo.h"
#include "app.h"

namespace {

// Set just before JLI_Launch to "<pid>:<start time>:<launcher library path>". The runtime's
// launcher library may execve this very executable again, in the same process, with the JVM
// command line as its arguments (it does so when LD_LIBRARY_PATH lists a lib/server directory
// with a libjvm.so other than its own, or its own under another spelling, ahead of its own).
// The launcher then finds its own identity here and hands that command line back to the same
// library instead of reading it as application arguments. The start time tells this process
// from a later one that reuses the pid and inherited the variable.
const char* const reexecMarkerVar = "VANTREL_JLI_REEXEC";

// In clock ticks since boot; execve keeps it, as it keeps the pid, and together the two name
// one process for as long as the system runs.
std::string processStartTime() {
    const UniqueFile file(std::fopen("/proc/self/stat", "rb"));
    if (!file) {
        return std::string();
    }
    char buffer[1024];
    const std::size_t size = std::fread(buffer, 1, sizeof(buffer) - 1, file.get());
    const std::string stat(buffer, size);
    // The command name in parentheses may hold blanks and parentheses: count from the last ')'.
    std::size_t pos = stat.rfind(')');
    // Field 22, the start time, is the 20th blank-separated field after the command name.
    for (int field = 0; field < 20 && pos != std::string::npos; ++field) {
        pos = stat.find(' ', pos + 1);
    }
    if (pos == std::string::npos) {
        return std::string();
    }
    return stat.substr(pos + 1, stat.find(' ', pos + 1) - pos - 1);
}

std::string processIdentity() {
    return std::to_string(getpid()) + ":" + processStartTime() + ":";
}

// The launcher library that re-executed this process, or empty text for a first start.
std::string reexecutingLauncherLib() {
    const char* const marker = std::getenv(reexecMarkerVar);
    if (marker == nullptr) {
        return std::string();
    }
    const std::string identity = processIdentity();
    const std::string value(marker);
    if (value.compare(0, identity.size(), identity) != 0) {
        return std::string();
    }
    return value.substr(identity.size());
}

void markAsLauncher(const tstring& launcherLibPath) {
    const std::string value = processIdentity() + tstrings::toUtf8(launcherLibPath);
    if (setenv(reexecMarkerVar, value.c_str(), 1) != 0) {
        VT_RAISE_FAILED_CALL(
            tstrings::TextBuilder() << L"setenv(" << reexecMarkerVar << L") failed", &setenv);
    }
    LOG_TRACE(reexecMarkerVar << L"=" << value);
}

// By full path: the runtime's libraries find their own dependencies beside them through their
// $ORIGIN run path, whatever LD_LIBRARY_PATH holds.
std::unique_ptr<Dll> loadRuntimeDll(const tstring& path) {
    std::unique_ptr<Dll> dll(new Dll(tstrings::TextBuilder() << path));
    LOG_TRACE(L"Loaded " << path);
    return dll;
}

// A relative directory would make the configuration depend on the current directory; the
// XDG rules say to ignore it.
tstring userConfigDir() {
    const tstring xdg = SysInfo::getEnvVariable(std::nothrow, L"XDG_CONFIG_HOME", tstring());
    if (!xdg.empty() && xdg[0] == L'/') {
        return xdg;
    }
    tstring home;
    catchAndLog(VT_SOURCE_POSITION, [&] { home = SysInfo::getEnvVariable(L"HOME"); });
    if (home.empty()) {
        return tstring();
    }
    return FileUtils::PathBuilder() << home << L".config";
}

// The JVM command line arrives as this process's own arguments; they go on byte for byte.
void relaunchJvm(const std::string& launcherLibPath, int argc, char** argv) {
    LOG_TRACE(L"Re-executed by " << tstrings::fromUtf8(launcherLibPath));
    const std::unique_ptr<Dll> jliDll = loadRuntimeDll(tstrings::fromUtf8(launcherLibPath));
    const DllFunction<void*> jliLaunch(*jliDll, tstrings::TextBuilder()
                                                    << JavaRuntime::launchEntryName);
    JvmlLauncherData data = {launcherLibPath.c_str(), argc, 0, argv, nullptr, nullptr};
    if (jvmLauncherRunJli(&data, jliLaunch) != 0) {
        VT_RAISE("Failed to launch JVM");
    }
}

// Loads the runtime's libraries by full path, and never restarts.
class LinuxLaunchHooks : public LaunchHookDefaults {
public:
    const wchar_t* libSearchVarName() const { return L"LD_LIBRARY_PATH"; }

    template <class F>
    void forEachUserConfigDir(F f) const {
        f(userConfigDir());
    }

    std::unique_ptr<Dll> loadRuntimeLibrary(const tstring& path) { return loadRuntimeDll(path); }

    void beforeLaunch(const Jvm& jvm) { markAsLauncher(jvm.getLauncherLibPath()); }
};

void launchApp(int argc, char** argv) {
    const std::string reexecutedBy = reexecutingLauncherLib();
    if (!reexecutedBy.empty()) {
        relaunchJvm(reexecutedBy, argc, argv);
        return;
    }
    LinuxLaunchHooks hooks;
    runLaunchSequence(hooks);
}

} // namespace

int main(int argc, char** argv) {
    return app::launch([argc, argv] { launchApp(argc, argv); });
}
