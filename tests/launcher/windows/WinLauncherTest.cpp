// Whole-executable tests: the launcher copied into a real application image in a temporary
// folder, with the test runtime standing in for a Java runtime.
#include <gtest/gtest.h>

#include "WinApi.h"

#include <chrono>
#include <cstring>
#include <regex>
#include <thread>

#include "FileUtils.h"
#include "JliRecord.h"
#include "SysInfo.h"
#include "TestRuntime.h"
#include "TestSupport.h"
#include "UserCache.h"

using testsupport::ChildResult;
using testsupport::EnvChanges;

namespace {

std::string utf8(const tstring& text) { return tstrings::toUtf8(text); }

// The launcher under test: the console one, or the windowed one with the standard error stream
// redirected, which must behave the same.
tstring launcherPath() {
    return FileUtils::joinPath(
        testsupport::binaryDir(),
        SysInfo::getEnvVariable(std::nothrow, L"VANTREL_TEST_LAUNCHER", tstring(L"vantrel.exe")));
}

class AppImage {
public:
    explicit AppImage(const tstring& name = L"HelloApp", bool withRuntime = true,
                      const tstring& folder = tstring())
        : name(name), folder(folder) {
        testsupport::makeDirectories(appDir());
        testsupport::writeFile(exePath(), testsupport::readFile(launcherPath()));
        if (withRuntime) {
            testruntime::install(runtimeDir());
        }
    }

    tstring root() const {
        return folder.empty() ? dir.path() : FileUtils::joinPath(dir.path(), folder);
    }
    tstring exePath() const { return FileUtils::joinPath(root(), name + L".exe"); }
    tstring appDir() const { return FileUtils::joinPath(root(), L"app"); }
    tstring runtimeDir() const { return FileUtils::joinPath(root(), L"runtime"); }
    tstring cfgPath() const { return FileUtils::joinPath(appDir(), name + L".cfg"); }
    tstring recordPath() const { return FileUtils::joinPath(root(), L"record.txt"); }

    void writeCfg(const std::string& text) const { testsupport::writeFile(cfgPath(), text); }

    // PATH without the application directory: the launcher restarts itself.
    ChildResult run(const tstring_array& args = {}, EnvChanges env = {},
                    const std::function<void()>& beforeRun = nullptr) const {
        env.emplace(L"VANTREL_TEST_RECORD", recordPath());
        env.emplace(L"VANTREL_DEBUG", std::nullopt);
        ChildResult result = testsupport::runChild(exePath(), args, env, tstring(), beforeRun);
        result.err = testsupport::withUnixLineEnds(result.err);
        return result;
    }

    ChildResult runInProcess(const tstring_array& args = {}, EnvChanges env = {}) const {
        env.emplace(L"PATH", originalPath() + L";" + tstrings::toLower(appDir()));
        return run(args, env);
    }

    bool recorded() const { return FileUtils::pathExists(recordPath()); }
    std::map<std::string, std::string> record() const {
        return jlirecord::parse(testsupport::readFile(recordPath()));
    }

    static tstring originalPath() {
        return SysInfo::getEnvVariable(std::nothrow, L"PATH", tstring());
    }

private:
    testsupport::TempDir dir;
    tstring name;
    tstring folder;
};

std::vector<std::string> recordedArgs(const std::map<std::string, std::string>& record) {
    std::vector<std::string> args;
    const int count = std::stoi(record.at("argc"));
    for (int i = 0; i < count; ++i) {
        args.push_back(record.at("argv[" + std::to_string(i) + "]"));
    }
    return args;
}

const char* const simpleCfg = "[Application]\napp.mainclass=hello.Main\n"
                              "[ArgOptions]\narguments=configured\n";

} // namespace

namespace {

BOOL WINAPI ignoreConsoleEvent(DWORD) {
    return TRUE;
}

// Starts the launcher without waiting for it; the variables are set for it alone.
PROCESS_INFORMATION startLauncher(const AppImage& image, const EnvChanges& env) {
    for (const auto& change : env) {
        SetEnvironmentVariableW(change.first.c_str(),
                                change.second ? change.second->c_str() : nullptr);
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    tstring commandLine = L"\"" + image.exePath() + L"\"";
    const BOOL started = CreateProcessW(image.exePath().c_str(), &commandLine[0], nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, &si, &pi);
    for (const auto& change : env) {
        SetEnvironmentVariableW(change.first.c_str(), nullptr);
    }
    EXPECT_TRUE(started);
    CloseHandle(pi.hThread);
    return pi;
}

// The copy's record, once the copy is inside the "JVM".
std::map<std::string, std::string> awaitRecord(const AppImage& image) {
    std::map<std::string, std::string> record;
    for (int i = 0; i < 200 && record.count("end") == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (image.recorded()) {
            record = image.record();
        }
    }
    return record;
}

} // namespace

TEST(LauncherInProcess, PathListingTheAppDirInAnotherCaseStartsTheJvmDirectly) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result = image.runInProcess({L"x y"}, {{L"VANTREL_DEBUG", L"true"}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ(std::string::npos, result.err.find("CreateProcess")) << result.err;
    const auto record = image.record();
    const std::string exe = utf8(image.exePath());
    EXPECT_EQ((std::vector<std::string>{exe, "-Dvantrel.app-path=" + exe, "hello.Main", "x y"}),
              recordedArgs(record));
    EXPECT_EQ("null", record.at("argv[argc]"));
    // No environment pair: PATH reaches the JVM as the launcher got it.
    EXPECT_EQ(utf8(AppImage::originalPath() + L";" + tstrings::toLower(image.appDir())),
              record.at("env.PATH"));
    EXPECT_EQ("", result.out);
}

TEST(LauncherInProcess, NoRestartSettingStartsTheJvmDirectlyWithPathExtended) {
    AppImage image;
    image.writeCfg("[Application]\napp.mainclass=hello.Main\nwin.norestart=TRUE\n");
    const ChildResult result = image.run();
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    const auto record = image.record();
    EXPECT_EQ(utf8(AppImage::originalPath() + L";" + image.appDir()), record.at("env.PATH"));
    EXPECT_EQ("1", record.at("exportsGetAPI"));
    EXPECT_EQ("nonnull", record.at("api.initJvmlLauncherData"));
    EXPECT_EQ("java", record.at("pname"));
    EXPECT_EQ("java", record.at("lname"));
    EXPECT_EQ("", record.at("fullversion"));
    EXPECT_EQ("0", record.at("jargc"));
    EXPECT_EQ("null", record.at("jargv"));
}

TEST(LauncherRestart, TheCopyReceivesTheArgumentsUnchanged) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const tstring_array args{L"plain", L"with space", L"with\ttab", L"", L"inner\"quote",
                             L"\"already quoted\"", L"ends\\", L"dir with space\\",
                             L"\u00e9t\u00e9"};
    const ChildResult result = image.run(args);
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    const auto record = image.record();
    const std::vector<std::string> jvmArgs = recordedArgs(record);
    ASSERT_EQ(3 + args.size(), jvmArgs.size());
    // The launcher's ANSI code page, in which the runtime decodes them, is UTF-8.
    EXPECT_EQ("65001", record.at("acp"));
    for (std::size_t i = 0; i < args.size(); ++i) {
        EXPECT_EQ(tstrings::toUtf8(args[i]), jvmArgs[3 + i]) << i;
    }
    // The copy inherited PATH extended by the application directory.
    EXPECT_EQ(utf8(AppImage::originalPath() + L";" + image.appDir()), record.at("env.PATH"));
}

TEST(LauncherRestart, ExitCodesPassThroughBitForBit) {
    AppImage image;
    image.writeCfg(simpleCfg);
    for (const tstring code : {L"0", L"3", L"3221225477"}) {
        const ChildResult result = image.run({}, {{L"VANTREL_TEST_EXIT", code}});
        EXPECT_EQ(std::stoul(code), result.exitCode);
        EXPECT_EQ("", result.err);
    }
}

TEST(LauncherRestart, TraceOfAWholeLaunch) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result = image.run({}, {{L"VANTREL_DEBUG", L"true"}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    for (const char* expected :
         {"Entering app::launch", "Launcher config file path: ", "CreateProcess[suspended][visible]"
                                                                 "[inherit](",
          "AssignProcessToJobObject(PID=", "ResumeThread()", "SetDllDirectory to: ",
          "AddDllDirectory(", "jli lib: [", "jli arg[0]: [",
          "Executor worker thread terminated. Exit code=0", "Exiting app::launch"}) {
        EXPECT_NE(std::string::npos, result.err.find(expected)) << expected << "\n" << result.err;
    }
    EXPECT_EQ("", result.out);
}

TEST(LauncherFailures, MissingConfiguration) {
    AppImage image;
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(0u, result.err.find("Error opening \"" + utf8(image.cfgPath()) + "\" file: "))
        << result.err;
    EXPECT_EQ(1, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
}

TEST(LauncherFailures, ParseErrorNamesItsLine) {
    AppImage image;
    image.writeCfg("[Application]\napp.mainclass=a\n\n[JavaOptions\n");
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Error parsing [" + utf8(image.cfgPath()) + "] file at 4: Missing ']' character\n",
              result.err);
}

TEST(LauncherFailures, RuntimeWithoutLauncherLibraryFailsBeforeAnyJob) {
    AppImage image(L"HelloApp", false);
    image.writeCfg(simpleCfg);
    const std::string expected =
        "Failed to find JVM in \"" + utf8(image.runtimeDir()) + "\" directory.";
    ChildResult result = image.run({}, {{L"VANTREL_DEBUG", L"true"}});
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(std::string::npos, result.err.find("CreateProcess")) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("\n" + expected + "\n")) << result.err;
    result = image.run();
    EXPECT_EQ(expected + "\n", result.err);
    result = image.runInProcess();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(expected + "\n", result.err);
}

TEST(LauncherFailures, SplashWithoutSplashLibrary) {
    AppImage image;
    image.writeCfg("[Application]\napp.mainclass=a\napp.splash=" + utf8(image.cfgPath()) + "\n");
    ASSERT_TRUE(DeleteFileW(testruntime::splashScreenPath(image.runtimeDir()).c_str()));
    const ChildResult result = image.runInProcess();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(0u, result.err.find("LoadLibraryW(" +
                                  utf8(testruntime::splashScreenPath(image.runtimeDir())) +
                                  ") failed. System error [126]"))
        << result.err;
    EXPECT_EQ(1, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
    EXPECT_FALSE(image.recorded());
}

TEST(LauncherFailures, JvmStatusOneFailsTheLaunch) {
    AppImage image;
    image.writeCfg(simpleCfg);
    ChildResult result = image.run({}, {{L"VANTREL_TEST_STATUS", L"1"}});
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Failed to launch JVM\n", result.err);
    result = image.runInProcess({}, {{L"VANTREL_TEST_STATUS", L"1"}});
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Failed to launch JVM\n", result.err);
}

TEST(LauncherConfiguration, PerUserConfigurationWinsWithAPackageFile) {
    AppImage image;
    testsupport::TempDir local, roaming;
    image.writeCfg("[Application]\napp.mainclass=from.AppDir\n");
    testsupport::writeFile(FileUtils::joinPath(image.appDir(), L".package"), "Hello Pkg\r\n");
    for (const auto& dir : {std::make_pair(&local, "from.Local"),
                            std::make_pair(&roaming, "from.Roaming")}) {
        const tstring pkgDir = FileUtils::joinPath(dir.first->path(), L"Hello Pkg");
        testsupport::makeDirectories(pkgDir);
        testsupport::writeFile(FileUtils::joinPath(pkgDir, L"HelloApp.cfg"),
                               std::string("[Application]\napp.mainclass=") + dir.second + "\n");
    }
    const EnvChanges env{{L"LOCALAPPDATA", local.path()}, {L"APPDATA", roaming.path()}};
    ASSERT_EQ(0u, image.runInProcess({}, env).exitCode);
    EXPECT_EQ("from.Local", image.record().at("argv[2]"));

    ASSERT_EQ(0u, image.runInProcess({}, {{L"LOCALAPPDATA", std::nullopt},
                                          {L"APPDATA", roaming.path()}})
                      .exitCode);
    EXPECT_EQ("from.Roaming", image.record().at("argv[2]"));

    ASSERT_TRUE(DeleteFileW(FileUtils::joinPath(image.appDir(), L".package").c_str()));
    const ChildResult result = image.runInProcess({}, [&] {
        EnvChanges traced = env;
        traced.emplace(L"VANTREL_DEBUG", L"true");
        return traced;
    }());
    ASSERT_EQ(0u, result.exitCode);
    EXPECT_EQ("from.AppDir", image.record().at("argv[2]"));
    EXPECT_EQ(std::string::npos, result.err.find("Check [")) << result.err;
}

TEST(LauncherExecutable, ManifestReadsBack) {
    const tstring exe = launcherPath();
    const HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, resource);
    const HGLOBAL loaded = LoadResource(module, resource);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(module, resource));
    FreeLibrary(module);
    for (const char* expected :
         {"level=\"asInvoker\" uiAccess=\"false\"", ">true/PM</dpiAware>",
          ">PerMonitorV2, PerMonitor, system</dpiAwareness>",
          "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(std::string::npos, manifest.find(expected)) << expected;
    }
}

TEST(LauncherExecutable, ExportsTheFunctionTable) {
    const tstring exe = launcherPath();
    const HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(nullptr, module);
    EXPECT_NE(nullptr, GetProcAddress(module, "jvmLauncherGetAPI"));
    FreeLibrary(module);
}

TEST(LauncherExecutable, SubsystemIsConsoleOrWindows) {
    for (const auto& launcher :
         {std::make_pair(L"vantrel.exe", 3), std::make_pair(L"vantrelw.exe", 2)}) {
        const std::string image =
            testsupport::readFile(FileUtils::joinPath(testsupport::binaryDir(), launcher.first));
        ASSERT_GT(image.size(), 0x40u);
        std::uint32_t peOffset = 0;
        std::memcpy(&peOffset, image.data() + 0x3c, sizeof(peOffset));
        // Signature (4 bytes), file header (20), then the optional header's Subsystem at 68.
        ASSERT_GT(image.size(), peOffset + 4 + 20 + 70);
        EXPECT_EQ(launcher.second, static_cast<unsigned char>(image[peOffset + 4 + 20 + 68]))
            << utf8(launcher.first);
    }
}

TEST(LauncherRestart, ACopyThatCannotStartGivesExitCodeOneSilently) {
    AppImage image;
    image.writeCfg(simpleCfg);
    // The launcher still runs from its image, but the copy's executable is gone.
    const auto moveExecutable = [&image] {
        ASSERT_TRUE(MoveFileW(image.exePath().c_str(), (image.exePath() + L".moved").c_str()));
    };
    const auto moveBack = [&image] {
        ASSERT_TRUE(MoveFileW((image.exePath() + L".moved").c_str(), image.exePath().c_str()));
    };
    ChildResult result = image.run({}, {}, moveExecutable);
    moveBack();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("", result.err);
    EXPECT_FALSE(image.recorded());

    result = image.run({}, {{L"VANTREL_DEBUG", L"true"}}, moveExecutable);
    moveBack();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_NE(std::string::npos, result.err.find("[ERROR] WinLauncher.cpp:")) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("Executor worker thread terminated. Exit code=1"));
}

TEST(LauncherRestart, EndingTheLauncherEndsTheRestartedCopy) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const PROCESS_INFORMATION pi =
        startLauncher(image, {{L"VANTREL_TEST_RECORD", image.recordPath()},
                              {L"VANTREL_TEST_SLEEP_MS", L"60000"}});
    // The copy writes its record, then waits inside the "JVM".
    const std::map<std::string, std::string> record = awaitRecord(image);
    ASSERT_EQ(1u, record.count("pid"));
    const DWORD copyId = static_cast<DWORD>(std::stoul(record.at("pid")));
    EXPECT_NE(pi.dwProcessId, copyId);
    const HANDLE copy = OpenProcess(SYNCHRONIZE, FALSE, copyId);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(copy, 0));

    TerminateProcess(pi.hProcess, 7);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(copy, 10000));
    TerminateProcess(copy, 0); // never leave it behind, whatever the outcome
    CloseHandle(copy);
}

// Whatever "PATH" holds or the folder is called, one copy at most, and the exit code comes back.
// A mark inherited from further up (another image's launcher that started the application)
// neither stops the restart nor reaches the application.
TEST(LauncherRestart, StartsOneCopyWhateverThePathOrFolder) {
    const tstring longPath = (AppImage::originalPath() + L";" + tstring(32760, L'p')).substr(0, 32760);
    for (const auto& c : {std::make_pair(L"a;b", AppImage::originalPath()),
                          std::make_pair(L"plain", longPath)}) {
        AppImage image(L"HelloApp", true, c.first);
        image.writeCfg(simpleCfg);
        const ChildResult result = image.run(
            {}, {{L"VANTREL_DEBUG", L"true"}, {L"VANTREL_TEST_EXIT", L"3"}, {L"PATH", c.second},
                 {L"VANTREL_RESTARTED_BY", L"4294967295"},
                 {L"VANTREL_TEST_RECORD_VARS", L"VANTREL_RESTARTED_BY"}});
        EXPECT_EQ(3u, result.exitCode) << result.err.substr(0, 2000);
        const std::regex copyStart("CreateProcess\\[");
        EXPECT_EQ(1, std::distance(std::sregex_iterator(result.err.begin(), result.err.end(),
                                                        copyStart),
                                   std::sregex_iterator()));
        // The copy stopped on its mark, not on "PATH".
        EXPECT_NE(std::string::npos, result.err.find("Restarted copy: not restarting again"));
        const auto record = image.record();
        EXPECT_EQ(0u, record.count("env.VANTREL_RESTARTED_BY"));
        // No piece of a folder split at ';' reaches the library search.
        EXPECT_EQ(std::string::npos, record.at("env.PATH").find("b\\HelloApp\\app"));
    }
}

// Ctrl+C belongs to the copy: the waiting launcher outlives the copy's handling of the event
// and ends with the copy's exit code.
TEST(LauncherRestart, ConsoleEventsAreLeftToTheCopy) {
    // A console of our own, which every process started from here shares.
    FreeConsole();
    if (!AllocConsole()) {
        GTEST_SKIP() << "no console: " << GetLastError();
    }
    SetConsoleCtrlHandler(ignoreConsoleEvent, TRUE);
    // Ctrl+Break takes the same way; Wine generates it for no process group we can name.
    AppImage image;
    image.writeCfg(simpleCfg);
    const PROCESS_INFORMATION pi =
        startLauncher(image, {{L"VANTREL_TEST_RECORD", image.recordPath()},
                              {L"VANTREL_TEST_SLEEP_MS", L"20000"},
                              {L"VANTREL_TEST_CONSOLE_EVENT_EXIT", L"130"}});
    EXPECT_EQ(1u, awaitRecord(image).count("end"));
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(pi.hProcess, 20000));
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    EXPECT_EQ(130u, exitCode);
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hProcess);
    SetConsoleCtrlHandler(ignoreConsoleEvent, FALSE);
}

// A runtime without a base archive, as one linked on Linux for Windows is: the restarted copy
// records the classes, the archive is made in the background, and a later start maps it.
TEST(LauncherClassDataArchive, RecordedByTheRestartedCopyMadeInTheBackgroundUsedLater) {
    AppImage image;
    testsupport::TempDir local;
    image.writeCfg("[Application]\napp.cds=auto\napp.mainclass=hello.Main\n");
    testsupport::writeFile(FileUtils::joinPath(image.appDir(), L".package"), "Hello Pkg\r\n");
    testsupport::writeFile(FileUtils::joinPath(image.runtimeDir(), L"release"),
                           "JAVA_VERSION=\"17.0.15\"\r\n");
    const tstring cds = FileUtils::joinPath(local.path(), L"Hello Pkg\\cds");
    const std::string stem = utf8(FileUtils::joinPath(cds, L"HelloApp-"));

    // The application ends the process itself, as System.exit does.
    ChildResult result =
        image.run({}, {{L"LOCALAPPDATA", local.path()}, {L"VANTREL_TEST_EXIT", L"3"}});
    EXPECT_EQ(3u, result.exitCode) << result.err;
    const std::string recorded = image.record().at("argv[2]");
    EXPECT_EQ(0u, recorded.find("-XX:DumpLoadedClassList=" + stem)) << recorded;

    // Made in the background: a bounded wait for it.
    std::string archive;
    for (int wait = 0; wait < 600 && archive.empty(); ++wait) {
        const tstring_array names =
            FileUtils::pathExists(cds) ? UserCache::listDirectory(cds) : tstring_array();
        for (const tstring& name : names) {
            if (tstrings::endsWith(name, L".jsa")) {
                archive = utf8(FileUtils::joinPath(cds, name));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(archive.empty());
    result = image.run({}, {{L"LOCALAPPDATA", local.path()}, {L"VANTREL_TEST_EXIT", L"4"}});
    EXPECT_EQ(4u, result.exitCode) << result.err;
    EXPECT_EQ("-XX:SharedArchiveFile=" + archive, image.record().at("argv[2]"));
}
