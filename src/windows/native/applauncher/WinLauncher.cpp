// The Windows steps of the launch sequence: runtime library loading and restart, shared by the
// console and the windowed launcher; each has only its own process entry.
#include "WinApi.h"

#include <tlhelp32.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "AppLauncher.h"
#include "CfgFile.h"
#include "Dll.h"
#include "ErrorHandling.h"
#include "Executor.h"
#include "FileUtils.h"
#include "LaunchSequence.h"
#include "Log.h"
#include "SysInfo.h"
#include "Toolbox.h"
#include "WinHandle.h"
#include "WinLauncher.h"
#include "app.h"

// Runs the restarted copy on a worker thread while the main thread pumps the messages of a
// hidden window, and hands back the copy's exit code bit for bit.
class RunExecutorWithMsgLoop {
public:
    static int apply(const Executor& executor);

private:
    explicit RunExecutorWithMsgLoop(const Executor& executor);
    void run();
    static DWORD WINAPI worker(LPVOID param);

    // A copy: the worker must not depend on the caller's frame, which a failure of the main
    // thread unwinds while the worker may still run.
    const Executor executor;
    int exitCode;
    HWND window;
};

namespace {

// Set by a launcher for the copy it restarts: the launcher's process id. The guard against a
// chain of copies must not depend on "PATH", which a ';' in a folder name or a value too long
// to extend can keep from ever listing the application directory.
const wchar_t* const restartedByVar = L"VANTREL_RESTARTED_BY";

DWORD parentProcessId() {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return 0;
    }
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL found = Process32FirstW(snapshot.get(), &entry); found;
         found = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) {
            return entry.th32ParentProcessID;
        }
    }
    return 0;
}

// True in the copy that a launcher restarted. The mark names the parent, so a value inherited
// from further up (another image's launcher started by the Java application) never counts;
// and it is removed at once, so that the application's own children don't see it.
bool takeRestartMark() {
    const tstring mark = SysInfo::getEnvVariable(std::nothrow, restartedByVar, tstring());
    if (mark.empty()) {
        return false;
    }
    SetEnvironmentVariableW(restartedByVar, nullptr);
    return mark == std::to_wstring(parentProcessId());
}

// While the launcher waits for its copy, console events reach both. Ctrl+C and Ctrl+Break are
// the copy's (the JVM runs its shutdown hooks and picks the exit code); ending here would kill
// the copy through the job. On close, logoff and shutdown the launcher waits for the copy as
// long as the system lets it: the main thread ends the process with the copy's exit code.
BOOL WINAPI waitForCopyOnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        Sleep(INFINITE);
    }
    return TRUE;
}

std::unique_ptr<Dll> loadDllWithAddDllDirectory(const tstring& path) {
    LOG_TRACE_FUNCTION();
    const tstring dir = FileUtils::parentPath(path);

    typedef DLL_DIRECTORY_COOKIE(WINAPI * AddDllDirectoryFunc)(PCWSTR);
    // Looked up at run time: older systems don't export it, and then the PATH strategy runs.
    const DllFunction<AddDllDirectoryFunc> addDllDirectoryFunc(
        Dll(tstrings::TextBuilder() << L"kernel32.dll", Dll::SystemDirTag()),
        tstrings::TextBuilder() << L"AddDllDirectory");
    const AddDllDirectoryFunc addDllDirectory = addDllDirectoryFunc;
    if (addDllDirectory(dir.c_str()) == nullptr) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << L"AddDllDirectory(" << dir << L") failed",
                             addDllDirectory);
    }
    LOG_TRACE(L"AddDllDirectory(" << dir << L"): OK");

    const HMODULE preloaded =
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    LOG_TRACE(L"LoadLibraryEx(" << path << L", LOAD_LIBRARY_SEARCH_DEFAULT_DIRS): "
                                << static_cast<const void*>(preloaded));
    const AtEndOfScope freePreloaded([preloaded] {
        if (preloaded) {
            FreeLibrary(preloaded);
        }
    });
    return std::unique_ptr<Dll>(new Dll(tstrings::TextBuilder() << path));
}

std::unique_ptr<Dll> loadDllWithAlteredPATH(const tstring& path) {
    LOG_TRACE_FUNCTION();
    const tstring oldPath = SysInfo::getEnvVariable(L"PATH");
    const tstring newPath = oldPath + L";" + FileUtils::parentPath(path);
    SysInfo::setEnvVariable(L"PATH", newPath);
    LOG_TRACE(L"New value of PATH: " << newPath);
    const AtEndOfScope restorePath([&oldPath] { SysInfo::setEnvVariable(L"PATH", oldPath); });
    return std::unique_ptr<Dll>(new Dll(tstrings::TextBuilder() << path));
}

// The runtime's libraries must find their dependencies beside them.
std::unique_ptr<Dll> loadRuntimeDll(const tstring& path) {
    try {
        return loadDllWithAddDllDirectory(path);
    } catch (const std::exception&) {
        // Not reported: the fallback's result or error is what counts.
    }
    return loadDllWithAlteredPATH(path);
}

// Loads the configuration early when a restart may be due, and lends it to the launcher so
// that the file is read once.
bool needRestartLauncher(AppLauncher& appLauncher, CfgFile& cfgFile, bool restartedCopy) {
    if (appLauncher.libSearchVarHasAppDir()) {
        return false;
    }
    if (restartedCopy) {
        LOG_TRACE(L"Restarted copy: not restarting again");
        return false;
    }
    cfgFile = std::move(*appLauncher.createCfgFile());

    bool restart = true;
    const CfgSection& application = cfgFile.section(SectionName::Application);
    const auto noRestart = application.find(PropertyName::winNorestart);
    if (noRestart != application.end()) {
        const bool value = CfgFile::isTrue(*noRestart);
        LOG_TRACE(PropertyName::winNorestart.name()
                  << L"=" << (value ? L"true" : L"false") << L" from config file");
        restart = !value;
    }
    appLauncher.setPresetCfgFile(&cfgFile);
    return restart;
}

// Empty when the variable is unset: logged, and only that lookup is lost.
tstring dirFromEnvVariable(const wchar_t* envVarName) {
    tstring dir;
    catchAndLog(VT_SOURCE_POSITION, [&] { dir = SysInfo::getEnvVariable(envVarName); });
    return dir;
}

// Failures carry the position of the launch sequence that asked for the job.
UniqueHandle createRestartJob(const SourcePosition& position) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        const DWORD code = GetLastError();
        throw makeError(SysError(tstrings::TextBuilder() << L"CreateJobObject() failed",
                                 functionAddress(&CreateJobObjectW), code),
                        position);
    }
    // The copy dies with the launcher; what the copy starts does not.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        const DWORD code = GetLastError();
        throw makeError(SysError(tstrings::TextBuilder() << L"SetInformationJobObject() failed",
                                 functionAddress(&SetInformationJobObject), code),
                        position);
    }
    return job;
}

[[noreturn]] void restartLauncher(const tstring& launcherPath, const SourcePosition& position) {
    SysInfo::setEnvVariable(restartedByVar, std::to_wstring(GetCurrentProcessId()));
    const UniqueHandle job = createRestartJob(position);

    Executor executor(launcherPath);
    executor.setVisible(true).setJobObject(job.get()).setSuspended(true).setInheritHandles(true);
    const tstring_array args = SysInfo::getCommandArgs(true);
    executor.arguments().insert(executor.arguments().end(), args.begin(), args.end());
    SetConsoleCtrlHandler(waitForCopyOnConsoleEvent, TRUE);
    std::exit(RunExecutorWithMsgLoop::apply(executor));
}

// Runs the JVM here or in a restarted copy (see needRestartLauncher).
class WinLaunchHooks : public LaunchHookDefaults {
public:
    explicit WinLaunchHooks(bool restartedCopy) : restartedCopy(restartedCopy) {}

    const wchar_t* libSearchVarName() const { return L"PATH"; }

    template <class F>
    void forEachUserConfigDir(F f) const {
        f(dirFromEnvVariable(L"LOCALAPPDATA"));
        f(dirFromEnvVariable(L"APPDATA"));
    }

    bool needRestart(AppLauncher& appLauncher) {
        return needRestartLauncher(appLauncher, cfgFile, restartedCopy);
    }

    void restart(const tstring& launcherPath) { restartLauncher(launcherPath, VT_SOURCE_POSITION); }

    void prepareRuntimeBinDir(const tstring& dir) {
        SetDllDirectoryW(dir.c_str());
        LOG_TRACE(L"SetDllDirectory to: " << dir);
    }

    std::unique_ptr<Dll> loadRuntimeLibrary(const tstring& path) { return loadRuntimeDll(path); }

private:
    const bool restartedCopy;
    // Lent to the launcher when read early; lives as long as the launch.
    CfgFile cfgFile;
};

void launchApp() {
    WinLaunchHooks hooks(takeRestartMark());
    AllowSetForegroundWindow(ASFW_ANY);
    runLaunchSequence(hooks);
}

} // namespace

RunExecutorWithMsgLoop::RunExecutorWithMsgLoop(const Executor& executor)
    : executor(executor), exitCode(1),
      window(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr)) {
    if (window == nullptr) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << L"CreateWindowEx() failed",
                             &CreateWindowExW);
    }
}

int RunExecutorWithMsgLoop::apply(const Executor& executor) {
    // Freed only after the worker has ended: on a failure below it stays with a worker that may
    // still run, and the process ends soon after.
    std::unique_ptr<RunExecutorWithMsgLoop> owned(new RunExecutorWithMsgLoop(executor));
    const UniqueHandle thread(CreateThread(nullptr, 0, worker, owned.get(), 0, nullptr));
    if (!thread) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << L"CreateThread() failed", &CreateThread);
    }
    RunExecutorWithMsgLoop* const runner = owned.release();

    MSG message;
    for (BOOL answer; (answer = GetMessageW(&message, runner->window, 0, 0)) != 0;) {
        if (answer == -1) {
            VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << L"GetMessage() failed", &GetMessageW);
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    if (WaitForSingleObject(thread.get(), INFINITE) == WAIT_FAILED) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << L"WaitForSingleObject() failed",
                             &WaitForSingleObject);
    }
    const int exitCode = runner->exitCode;
    delete runner;
    LOG_TRACE(L"Executor worker thread terminated. Exit code="
              << static_cast<std::uint32_t>(exitCode));
    return exitCode;
}

void RunExecutorWithMsgLoop::run() {
    catchAndLog(VT_SOURCE_POSITION,
                [this] { exitCode = static_cast<int>(executor.execAndWaitForExit()); });
    bool quitPosted = false;
    catchAndLog(VT_SOURCE_POSITION, [this, &quitPosted] {
        if (!PostMessageW(window, WM_QUIT, 0, 0)) {
            VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << L"PostMessage(WM_QUIT) failed",
                                 &PostMessageW);
        }
        quitPosted = true;
    });
    if (!quitPosted) {
        // The main thread would wait for WM_QUIT forever.
        std::exit(1);
    }
}

DWORD WINAPI RunExecutorWithMsgLoop::worker(LPVOID param) {
    static_cast<RunExecutorWithMsgLoop*>(param)->run();
    return 0;
}

int runWinLauncher(LogAppender* lastErrorLogAppender) {
    return app::launch(launchApp, lastErrorLogAppender);
}
