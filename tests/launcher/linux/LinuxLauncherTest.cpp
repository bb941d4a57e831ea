// Whole-executable tests: the launcher copied into a real application image in a temporary
// folder, started as a child process, with the test runtime or a real Java runtime behind it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "FileUtils.h"
#include "JliRecord.h"
#include "SysInfo.h"
#include "TestRuntime.h"
#include "TestSupport.h"

using testsupport::ChildResult;
using testsupport::EnvChanges;
namespace fs = std::filesystem;

namespace {

const char* const reexecMarkerVar = "VANTREL_JLI_REEXEC";

std::string utf8(const tstring& text) {
    return tstrings::toUtf8(text);
}
tstring wide(const std::string& text) {
    return tstrings::fromUtf8(text);
}

tstring launcherBinary() {
    return FileUtils::joinPath(testsupport::binaryDir(), L"vantrel");
}

std::vector<std::string> recordedArgs(const std::map<std::string, std::string>& record) {
    std::vector<std::string> args;
    const int count = std::stoi(record.at("argc"));
    for (int i = 0; i < count; ++i) {
        args.push_back(record.at("argv[" + std::to_string(i) + "]"));
    }
    return args;
}

// Field 22 of /proc/self/stat, counted after the parenthesised command name.
std::string ownStartTime() {
    const std::string stat = testsupport::readFile(L"/proc/self/stat");
    std::size_t pos = stat.rfind(')');
    for (int field = 0; field < 20 && pos != std::string::npos; ++field) {
        pos = stat.find(' ', pos + 1);
    }
    return pos == std::string::npos ? "" : stat.substr(pos + 1, stat.find(' ', pos + 1) - pos - 1);
}

enum class Runtime { test, none };

// <root>/<name>, <root>/app, <root>/runtime.
class AppImage {
public:
    explicit AppImage(Runtime runtime = Runtime::test, const tstring& name = L"HelloApp")
        : name(name) {
        testsupport::makeDirectories(appDir());
        fs::copy_file(utf8(launcherBinary()), utf8(exePath()));
        if (runtime == Runtime::test) {
            testruntime::install(runtimeDir());
        }
    }

    tstring root() const { return dir.path(); }
    tstring exePath() const { return FileUtils::joinPath(root(), name); }
    tstring appDir() const { return FileUtils::joinPath(root(), L"app"); }
    tstring runtimeDir() const { return FileUtils::joinPath(root(), L"runtime"); }
    tstring cfgPath() const { return FileUtils::joinPath(appDir(), name + L".cfg"); }
    tstring recordPath() const { return FileUtils::joinPath(root(), L"record.txt"); }

    void writeCfg(const std::string& text) const { testsupport::writeFile(cfgPath(), text); }
    void writeAppFile(const tstring& relative, const std::string& bytes) const {
        const tstring path = FileUtils::joinPath(appDir(), relative);
        testsupport::makeDirectories(FileUtils::parentPath(path));
        testsupport::writeFile(path, bytes);
    }

    // Nothing of the caller's environment that the launcher reads leaks in unless asked for.
    ChildResult run(const tstring_array& args = {}, EnvChanges env = {}) const {
        env.emplace(L"VANTREL_TEST_RECORD", recordPath());
        for (const wchar_t* var :
             {L"VANTREL_DEBUG", L"LD_LIBRARY_PATH", L"XDG_CONFIG_HOME", L"VANTREL_JLI_REEXEC",
              L"JDK_JAVA_OPTIONS", L"JAVA_TOOL_OPTIONS", L"_JAVA_OPTIONS"}) {
            env.emplace(var, std::nullopt);
        }
        return testsupport::runChild(exePath(), args, env);
    }

    bool recorded() const { return FileUtils::pathExists(recordPath()); }
    std::map<std::string, std::string> record() const {
        return jlirecord::parse(testsupport::readFile(recordPath()));
    }

private:
    testsupport::TempDir dir;
    tstring name;
};

const char* const simpleCfg = "[Application]\napp.mainclass=hello.Main\n"
                              "[ArgOptions]\narguments=configured\n";

} // namespace

TEST(LinuxLauncher, StartsTheRuntimeInItsOwnProcessWithTheJvmCommandLine) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result = image.run({L"x y"});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    EXPECT_EQ("", result.out);
    const auto record = image.record();
    const std::string exe = utf8(image.exePath());
    EXPECT_EQ((std::vector<std::string>{exe, "-Dvantrel.app-path=" + exe, "hello.Main", "x y"}),
              recordedArgs(record));
    EXPECT_EQ("null", record.at("argv[argc]"));
    EXPECT_EQ("1", record.at("exportsGetAPI"));
    EXPECT_EQ("nonnull", record.at("api.initJvmlLauncherData"));
    EXPECT_EQ("java", record.at("pname"));
    EXPECT_EQ("java", record.at("lname"));
    EXPECT_EQ("0", record.at("jargc"));
    // An unset search path becomes the application directory alone: an empty entry would
    // stand for the current directory.
    EXPECT_EQ(utf8(image.appDir()), record.at("env.LD_LIBRARY_PATH"));
}

TEST(LinuxLauncher, SearchPathIsExtendedOnlyWhenItLacksTheAppDir) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const std::string appDir = utf8(image.appDir());
    ASSERT_EQ(0u, image.run({}, {{L"LD_LIBRARY_PATH", L"/opt/lib"}}).exitCode);
    EXPECT_EQ("/opt/lib:" + appDir, image.record().at("env.LD_LIBRARY_PATH"));
    ASSERT_EQ(0u, image.run({}, {{L"LD_LIBRARY_PATH", L""}}).exitCode);
    EXPECT_EQ(appDir, image.record().at("env.LD_LIBRARY_PATH"));
    const tstring listed = L"/opt/lib:" + image.appDir() + L":/usr/local/lib";
    ASSERT_EQ(0u, image.run({}, {{L"LD_LIBRARY_PATH", listed}}).exitCode);
    EXPECT_EQ(utf8(listed), image.record().at("env.LD_LIBRARY_PATH"));
}

TEST(LinuxLauncher, ConfigurationIsNamedAfterTheLauncher) {
    for (const tstring name : {L"My.App.bin", L"MyApp"}) {
        AppImage image(Runtime::test, name);
        image.writeCfg("[Application]\napp.mainclass=" + utf8(name) + "\n");
        const ChildResult result = image.run();
        ASSERT_EQ(0u, result.exitCode) << result.err;
        EXPECT_EQ(utf8(name), image.record().at("argv[2]"));
    }
}

TEST(LinuxLauncher, TraceOfAWholeLaunch) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result = image.run({}, {{L"VANTREL_DEBUG", L"true"}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const std::string jli = utf8(testruntime::jliPath(image.runtimeDir()));
    for (const std::string& expected : std::vector<std::string>{
             "[TRACE] app.cpp:", "Entering app::launch",
             "Launcher config file path: \"" + utf8(image.cfgPath()) + "\"",
             "LinuxLauncher.cpp:", "Loaded " + jli, "jli lib: [" + jli + "]",
             "jli arg[0]: [" + utf8(image.exePath()) + "]",
             "env var[0]: LD_LIBRARY_PATH=[" + utf8(image.appDir()) + "]", "Exiting app::launch"}) {
        EXPECT_NE(std::string::npos, result.err.find(expected)) << expected << "\n" << result.err;
    }
    EXPECT_EQ(std::string::npos, result.err.find("Re-executed")) << result.err;
}

TEST(LinuxLauncherFailures, MissingConfiguration) {
    AppImage image;
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Error opening \"" + utf8(image.cfgPath()) + "\" file: No such file or directory\n",
              result.err);
    EXPECT_FALSE(image.recorded());
}

TEST(LinuxLauncherFailures, RuntimeWithoutLauncherLibrary) {
    AppImage image(Runtime::none);
    image.writeCfg(simpleCfg);
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Failed to find JVM in \"" + utf8(image.runtimeDir()) + "\" directory.\n",
              result.err);
}

TEST(LinuxLauncherFailures, JvmStatusOneFailsTheLaunch) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result = image.run({}, {{L"VANTREL_TEST_STATUS", L"1"}});
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Failed to launch JVM\n", result.err);
}

TEST(LinuxLauncherFailures, SplashWithoutSplashLibrary) {
    AppImage image;
    image.writeCfg("[Application]\napp.mainclass=a\napp.splash=" + utf8(image.cfgPath()) + "\n");
    const tstring splash = testruntime::splashScreenPath(image.runtimeDir());
    fs::remove(utf8(splash));
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("dlopen(" + utf8(splash) + ") failed. " + utf8(splash) +
                  ": cannot open shared object file: No such file or directory. System error "
                  "[0](system error 0 (Success))\n",
              result.err);
    EXPECT_FALSE(image.recorded());
}

TEST(LinuxLauncherFailures, ExitCodeOfTheApplicationPassesThrough) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result = image.run({}, {{L"VANTREL_TEST_EXIT", L"42"}});
    EXPECT_EQ(42u, result.exitCode);
    EXPECT_EQ("", result.err);
}

class LinuxLauncherUserConfig : public ::testing::Test {
protected:
    LinuxLauncherUserConfig() {
        image.writeCfg("[Application]\napp.mainclass=from.AppDir\n");
        image.writeAppFile(L".package", "my pkg\n");
        writeUserCfg(xdg.path(), "from.Xdg");
        writeUserCfg(FileUtils::joinPath(home.path(), L".config"), "from.Home");
    }

    void writeUserCfg(const tstring& configDir, const std::string& mainClass) {
        const tstring dir = FileUtils::joinPath(configDir, L"my pkg");
        testsupport::makeDirectories(dir);
        testsupport::writeFile(FileUtils::joinPath(dir, L"HelloApp.cfg"),
                               "[Application]\napp.mainclass=" + mainClass + "\n");
    }

    std::string mainClassOf(const ChildResult& result) {
        EXPECT_EQ(0u, result.exitCode) << result.err;
        return image.record().at("argv[2]");
    }

    AppImage image;
    testsupport::TempDir xdg, home;
};

TEST_F(LinuxLauncherUserConfig, XdgConfigHomeComesFirst) {
    EXPECT_EQ("from.Xdg", mainClassOf(image.run(
                              {}, {{L"XDG_CONFIG_HOME", xdg.path()}, {L"HOME", home.path()}})));
}

TEST_F(LinuxLauncherUserConfig, HomeConfigWhenXdgConfigHomeIsUnsetEmptyOrRelative) {
    for (const std::optional<tstring>& value :
         {std::optional<tstring>(), std::optional<tstring>(L""),
          std::optional<tstring>(L"relative/dir")}) {
        EXPECT_EQ("from.Home", mainClassOf(image.run(
                                   {}, {{L"XDG_CONFIG_HOME", value}, {L"HOME", home.path()}})));
    }
}

TEST_F(LinuxLauncherUserConfig, AppDirWhenNoUserFileExists) {
    testsupport::TempDir empty;
    EXPECT_EQ("from.AppDir", mainClassOf(image.run({}, {{L"XDG_CONFIG_HOME", empty.path()}})));
}

TEST_F(LinuxLauncherUserConfig, UnsetHomeIsLoggedAndOnlyCostsTheLookup) {
    const ChildResult result =
        image.run({}, {{L"HOME", std::nullopt}, {L"VANTREL_DEBUG", L"true"}});
    EXPECT_EQ("from.AppDir", mainClassOf(result));
    EXPECT_NE(std::string::npos, result.err.find("[ERROR] LinuxLauncher.cpp:")) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("GetEnvironmentVariable(HOME) failed. Variable "
                                                 "not set"))
        << result.err;
    EXPECT_EQ(std::string::npos, result.err.find("Check [")) << result.err;
}

TEST_F(LinuxLauncherUserConfig, WithoutPackageFileNoUserDirectoryIsTried) {
    fs::remove(utf8(FileUtils::joinPath(image.appDir(), L".package")));
    const ChildResult result = image.run(
        {},
        {{L"XDG_CONFIG_HOME", xdg.path()}, {L"HOME", home.path()}, {L"VANTREL_DEBUG", L"true"}});
    EXPECT_EQ("from.AppDir", mainClassOf(result));
    EXPECT_EQ(std::string::npos, result.err.find("Check [")) << result.err;
}

// --- Re-execution by the runtime's launcher library -------------------------------------

namespace {

// Starts the launcher as the runtime's launcher library does when it re-executes the process:
// same process, the JVM command line as its arguments, the marker in the environment. The
// marker holds the process's own identity unless startTime overrides it.
ChildResult runAsReexecuted(const AppImage& image, const std::vector<std::string>& args,
                            const tstring& launcherLib, const char* startTime = nullptr) {
    const std::string exe = utf8(image.exePath());
    const std::string out = utf8(FileUtils::joinPath(image.root(), L"out.txt"));
    const std::string err = utf8(FileUtils::joinPath(image.root(), L"err.txt"));
    std::vector<std::string> argTexts{exe};
    argTexts.insert(argTexts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argTexts) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    const std::string record = utf8(image.recordPath());

    const pid_t pid = fork();
    if (pid == 0) {
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(outFd, 1);
        dup2(errFd, 2);
        const std::string marker = std::to_string(getpid()) + ":" +
                                   (startTime ? startTime : ownStartTime()) + ":" +
                                   utf8(launcherLib);
        setenv(reexecMarkerVar, marker.c_str(), 1);
        setenv("VANTREL_TEST_RECORD", record.c_str(), 1);
        unsetenv("VANTREL_DEBUG");
        unsetenv("LD_LIBRARY_PATH");
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildResult result;
    result.exitCode = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : 255;
    result.out = testsupport::readFile(wide(out));
    result.err = testsupport::readFile(wide(err));
    return result;
}

} // namespace

TEST(LinuxLauncherReexecution, MarkerNamesThisProcessAndTheRuntimeLibrary) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const ChildResult result =
        image.run({}, {{L"VANTREL_TEST_RECORD_VARS", L"VANTREL_JLI_REEXEC"}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const auto record = image.record();
    const std::string marker = record.at("env.VANTREL_JLI_REEXEC");
    const std::string head = record.at("pid") + ":";
    const std::string tail = ":" + utf8(testruntime::jliPath(image.runtimeDir()));
    ASSERT_GT(marker.size(), head.size() + tail.size()) << marker;
    EXPECT_EQ(head, marker.substr(0, head.size()));
    EXPECT_EQ(tail, marker.substr(marker.size() - tail.size()));
    const std::string startTime =
        marker.substr(head.size(), marker.size() - head.size() - tail.size());
    EXPECT_EQ(std::string::npos, startTime.find_first_not_of("0123456789")) << marker;
}

TEST(LinuxLauncherReexecution, ReexecutedProcessHandsItsArgumentsStraightToTheRuntime) {
    // No configuration and no runtime in the image: neither may be looked at again.
    AppImage image(Runtime::none);
    testsupport::TempDir runtime;
    testruntime::install(runtime.path());
    const std::vector<std::string> jvmArgs{"-classpath", "a.jar", "-Dvantrel.app-path=/x",
                                           "hello.Main", "",      "not \xff UTF-8"};
    const ChildResult result =
        runAsReexecuted(image, jvmArgs, testruntime::jliPath(runtime.path()));
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    std::vector<std::string> expected{utf8(image.exePath())};
    expected.insert(expected.end(), jvmArgs.begin(), jvmArgs.end());
    const auto record = image.record();
    EXPECT_EQ(expected, recordedArgs(record));
    EXPECT_EQ("java", record.at("pname"));
    EXPECT_EQ(0u, record.count("env.LD_LIBRARY_PATH"));
}

TEST(LinuxLauncherReexecution, AFailingRuntimeFailsTheReexecutedLaunch) {
    AppImage image(Runtime::none);
    testsupport::TempDir runtime;
    testruntime::install(runtime.path());
    setenv("VANTREL_TEST_STATUS", "1", 1);
    const ChildResult result =
        runAsReexecuted(image, {"hello.Main"}, testruntime::jliPath(runtime.path()));
    unsetenv("VANTREL_TEST_STATUS");
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Failed to launch JVM\n", result.err);
}

TEST(LinuxLauncherReexecution, MarkerOfAnotherProcessIsIgnored) {
    AppImage image;
    image.writeCfg(simpleCfg);
    const tstring foreign = L"1:1:" + testruntime::jliPath(image.runtimeDir());
    ChildResult result = image.run({L"arg"}, {{L"VANTREL_JLI_REEXEC", foreign}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const std::string exe = utf8(image.exePath());
    EXPECT_EQ((std::vector<std::string>{exe, "-Dvantrel.app-path=" + exe, "hello.Main", "arg"}),
              recordedArgs(image.record()));

    // The same pid in a later process: the start time tells them apart.
    result = runAsReexecuted(image, {"arg"}, testruntime::jliPath(image.runtimeDir()), "1");
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ((std::vector<std::string>{exe, "-Dvantrel.app-path=" + exe, "hello.Main", "arg"}),
              recordedArgs(image.record()));
}

// --- Memory ---------------------------------------------------------------------------

#ifdef VANTREL_MEMCHECK_SUPPRESSIONS
TEST(LinuxLauncherMemory, MemcheckFindsNoErrorAndNoLeak) {
    const char* const valgrind = "/usr/bin/valgrind";
    if (!FileUtils::pathExists(wide(valgrind))) {
        GTEST_SKIP() << "valgrind is not installed";
    }
    AppImage image;
    image.writeCfg(simpleCfg);
    // A package whose per-user lookup logs an error, and no configuration at all.
    AppImage broken;
    broken.writeAppFile(L".package", "pkg\n");

    struct Launch {
        const AppImage& image;
        EnvChanges env;
        std::uint32_t exitCode;
    };
    for (const Launch& launch :
         {Launch{image, {}, 0u}, Launch{image, {{L"VANTREL_DEBUG", L"true"}}, 0u},
          Launch{image, {{L"VANTREL_TEST_STATUS", L"1"}}, 1u},
          Launch{broken, {{L"HOME", std::nullopt}, {L"VANTREL_DEBUG", L"true"}}, 1u}}) {
        const tstring_array args{L"--error-exitcode=99",
                                 L"--suppressions=" + wide(VANTREL_MEMCHECK_SUPPRESSIONS),
                                 L"--leak-check=full",
                                 L"--show-leak-kinds=definite,indirect,possible",
                                 L"--errors-for-leak-kinds=definite,indirect,possible",
                                 L"-q",
                                 launch.image.exePath(),
                                 L"x"};
        EnvChanges env = launch.env;
        env.emplace(L"VANTREL_TEST_RECORD", launch.image.recordPath());
        const ChildResult result = testsupport::runChild(wide(valgrind), args, env);
        EXPECT_EQ(launch.exitCode, result.exitCode) << result.err;
        EXPECT_FALSE(std::regex_search(result.err, std::regex("==[0-9]+=="))) << result.err;
    }
}
#endif

// --- A real Java runtime --------------------------------------------------------------------

#ifdef VANTREL_JLINK_RUNTIME
namespace {

// "key=value" lines; a key seen again keeps its first value, "count.<key>" counts them all.
std::map<std::string, std::string> parseLines(const std::string& text) {
    std::map<std::string, std::string> items;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        items.emplace(key, eq == std::string::npos ? "" : line.substr(eq + 1));
        const std::string counter = "count." + key;
        items[counter] = std::to_string(std::atoi(items[counter].c_str()) + 1);
        start = end + 1;
    }
    return items;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t pos = text.find(part); pos != std::string::npos;
         pos = text.find(part, pos + part.size())) {
        ++count;
    }
    return count;
}

tstring javaProgram(const tstring& name) {
    return FileUtils::joinPath(wide(VANTREL_JAVA_PROGRAMS), name);
}

// An image whose runtime is the jlink image the build made, under a link of its own name.
class JavaAppImage : public AppImage {
public:
    JavaAppImage() : AppImage(Runtime::none) {
        fs::create_directory_symlink(VANTREL_JLINK_RUNTIME, utf8(runtimeDir()));
    }

    void installProgram(const tstring& jar, const tstring& dest = tstring()) const {
        writeAppFile(dest.empty() ? jar : dest, testsupport::readFile(javaProgram(jar)));
    }

    // The probe's report on the standard output stream, in UTF-8 whatever the locale.
    std::map<std::string, std::string> report(const ChildResult& result) const {
        EXPECT_EQ("1", parseLines(result.out)["count.started"]) << result.out << result.err;
        return parseLines(result.out);
    }
};

std::string probeClassPathCfg(const std::string& moreOptions = "",
                              const std::string& moreApplication = "") {
    return "[Application]\n" + moreApplication +
           "app.classpath=$APPDIR/probe.jar\n"
           "app.classpath=$APPDIR/lib/helper.jar\n"
           "app.mainclass=vtest.probe.Probe\n"
           "[JavaOptions]\n"
           "java-options=-Dvtest.greeting=hello world\n"
           "java-options=-Dvtest.dir=$APPDIR\n" +
           moreOptions +
           "[ArgOptions]\n"
           "arguments=first configured\n"
           "arguments=second\n";
}

} // namespace

TEST(LinuxLauncherJava, MainClassWithTwoEntryClassPathAndOptions) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeCfg(probeClassPathCfg());
    const ChildResult result = image.run();
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    const auto report = image.report(result);
    EXPECT_EQ(utf8(FileUtils::joinPath(image.appDir(), L"lib/helper.jar")), report.at("helper"));
    EXPECT_EQ("hello world", report.at("prop.vtest.greeting"));
    EXPECT_EQ(utf8(image.appDir()), report.at("prop.vtest.dir"));
    EXPECT_EQ(utf8(image.exePath()), report.at("prop.vantrel.app-path"));
    EXPECT_EQ("2", report.at("argc"));
    EXPECT_EQ("first configured", report.at("arg[0]"));
    EXPECT_EQ("second", report.at("arg[1]"));
    EXPECT_EQ("null", report.at("module"));
    // The JVM runs in the launcher's own process, which kept its command line.
    EXPECT_EQ(utf8(image.exePath()), report.at("cmdline"));
}

TEST(LinuxLauncherJava, MainJarFindsItsManifestClassPath) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar");
    image.writeCfg("[Application]\napp.mainjar=$APPDIR/probe.jar\n");
    const ChildResult result = image.run({L"only"});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const auto report = image.report(result);
    EXPECT_EQ(utf8(FileUtils::joinPath(image.appDir(), L"helper.jar")), report.at("helper"));
    EXPECT_EQ("1", report.at("argc"));
    EXPECT_EQ("only", report.at("arg[0]"));
}

TEST(LinuxLauncherJava, ModulePathWithMainModule) {
    JavaAppImage image;
    image.installProgram(L"module.jar", L"mods/vtest.mod.jar");
    image.writeCfg("[Application]\napp.modulepath=$APPDIR/mods\n"
                   "app.mainmodule=vtest.mod/vtest.mod.ModMain\n"
                   "[ArgOptions]\narguments=a\narguments=b\n");
    const ChildResult result = image.run();
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("module=vtest.mod\nargs=a|b\n", result.out);
    EXPECT_EQ("", result.err);
}

TEST(LinuxLauncherJava, CommandLineArgumentsReplaceConfiguredOnesUnchanged) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeCfg(probeClassPathCfg());
    const tstring_array args{L"with space",
                             L"in\"ner",
                             L"'single'",
                             L"",
                             L"$APPDIR",
                             L"-Dvtest.injected=1",
                             L"\u00fcn\u00ef\u20ac\U0001F600"};
    const ChildResult result = image.run(args, {{L"LC_ALL", L"C.UTF-8"}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const auto report = image.report(result);
    ASSERT_EQ(std::to_string(args.size()), report.at("argc"));
    for (std::size_t i = 0; i < args.size(); ++i) {
        EXPECT_EQ(utf8(args[i]), report.at("arg[" + std::to_string(i) + "]")) << i;
    }
    EXPECT_EQ(0u, report.count("prop.vtest.injected"));
}

TEST(LinuxLauncherJava, SystemExitCodeBecomesTheLauncherExitCode) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeCfg(probeClassPathCfg("java-options=-Dvtest.exit=42\n"));
    const ChildResult result = image.run();
    EXPECT_EQ(42u, result.exitCode) << result.err;
    EXPECT_EQ("", result.err);
    EXPECT_EQ("42", image.report(result).at("prop.vtest.exit"));
}

TEST(LinuxLauncherJava, FailingMainFailsTheLaunchAfterTheJvmMessage) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeCfg(probeClassPathCfg("java-options=-Dvtest.throw=probe failure\n"));
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    const std::string first =
        "Exception in thread \"main\" java.lang.IllegalStateException: probe failure\n";
    EXPECT_EQ(0u, result.err.find(first)) << result.err;
    const std::string last = "\nFailed to launch JVM\n";
    ASSERT_GT(result.err.size(), first.size() + last.size());
    EXPECT_EQ(last, result.err.substr(result.err.size() - last.size())) << result.err;
}

// The runtime ends the process itself for a main class it cannot load: JLI_Launch never
// returns, so only the JVM's own message is there, with the exit code 1.
TEST(LinuxLauncherJava, MissingMainClassEndsTheProcessWithTheJvmMessage) {
    JavaAppImage image;
    image.writeCfg("[Application]\napp.mainclass=no.such.Main\n");
    const ChildResult result = image.run();
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ("Error: Could not find or load main class no.such.Main\n"
              "Caused by: java.lang.ClassNotFoundException: no.such.Main\n",
              result.err);
}

TEST(LinuxLauncherJava, LibrarySearchPathAsTheJvmSeesIt) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeCfg(probeClassPathCfg());
    const std::string appDir = utf8(image.appDir());

    auto report = image.report(image.run());
    EXPECT_EQ(appDir, report.at("env.LD_LIBRARY_PATH"));
    EXPECT_EQ(0u, report.at("java.library.path").find(appDir + ":"))
        << report.at("java.library.path");

    report = image.report(image.run({}, {{L"LD_LIBRARY_PATH", L"/opt/vtest"}}));
    EXPECT_EQ("/opt/vtest:" + appDir, report.at("env.LD_LIBRARY_PATH"));
    EXPECT_EQ(0u, report.at("java.library.path").find("/opt/vtest:" + appDir + ":"));
}

TEST(LinuxLauncherJava, SplashScreenLibrariesLoadBeforeTheJvmStarts) {
    const tstring jdk = wide(VANTREL_JDK_HOME);
    const tstring libDir = FileUtils::joinPath(jdk, L"lib");
    if (!FileUtils::pathExists(FileUtils::joinPath(libDir, L"libsplashscreen.so"))) {
        GTEST_SKIP() << "The JDK has no splash screen library";
    }
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeAppFile(L"splash.gif", "not really a picture");
    image.writeCfg(
        probeClassPathCfg("", "app.runtime=" + utf8(jdk) + "\napp.splash=$APPDIR/splash.gif\n"));
    const ChildResult result =
        image.run({}, {{L"VANTREL_DEBUG", L"true"}, {L"DISPLAY", std::nullopt}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ(utf8(jdk), image.report(result).at("java.home"));
    const std::size_t jli = result.err.find("Loaded " + utf8(libDir) + "/libjli.so\n");
    const std::size_t jvm = result.err.find("Loaded " + utf8(libDir) + "/server/libjvm.so\n");
    const std::size_t splash = result.err.find("Loaded " + utf8(libDir) + "/libsplashscreen.so\n");
    const std::size_t start = result.err.find("jli lib: [");
    ASSERT_NE(std::string::npos, start) << result.err;
    EXPECT_LT(jli, jvm) << result.err;
    EXPECT_LT(jvm, splash) << result.err;
    EXPECT_LT(splash, start) << result.err;
}

TEST(LinuxLauncherJava, ReexecutionByTheRuntimeStartsTheApplicationOnce) {
    JavaAppImage image;
    image.installProgram(L"probe.jar");
    image.installProgram(L"helper.jar", L"lib/helper.jar");
    image.writeCfg(probeClassPathCfg("java-options=-Dvtest.exit=7\n"));
    // A libjvm directory in the search path, spelled otherwise than the runtime resolves its own
    // (here through the image's link), makes the runtime re-execute the process.
    const tstring serverDir = FileUtils::joinPath(image.runtimeDir(), L"lib/server");
    const tstring_array args{L"-classpath", L"x y", L"", L"\u00e9t\u00e9"};
    const ChildResult result = image.run(
        args,
        {{L"LD_LIBRARY_PATH", serverDir}, {L"LC_ALL", L"C.UTF-8"}, {L"VANTREL_DEBUG", L"true"}});
    EXPECT_EQ(7u, result.exitCode) << result.err;
    const auto report = image.report(result);
    // Re-executed: the process's command line is now the JVM's.
    ASSERT_EQ(0u, report.at("cmdline").find(utf8(image.exePath()) + " -classpath "))
        << report.at("cmdline");
    ASSERT_EQ(std::to_string(args.size()), report.at("argc"));
    for (std::size_t i = 0; i < args.size(); ++i) {
        EXPECT_EQ(utf8(args[i]), report.at("arg[" + std::to_string(i) + "]")) << i;
    }
    EXPECT_EQ(utf8(image.exePath()), report.at("prop.vantrel.app-path"));
    const std::string appDir = utf8(image.appDir());
    const std::string searchPath = report.at("env.LD_LIBRARY_PATH");
    EXPECT_EQ(":" + utf8(serverDir) + ":" + appDir,
              searchPath.substr(searchPath.size() - serverDir.size() - appDir.size() - 2));
    EXPECT_EQ(1u, occurrences(result.err,
                              "Re-executed by " +
                                  utf8(FileUtils::joinPath(image.runtimeDir(), L"lib/libjli.so")) +
                                  "\n"))
        << result.err;
}
#endif

// --- The start-up archive in the user's cache ----------------------------------------------

#ifdef VANTREL_JDK_HOME
namespace {

// A runtime, the first version of the application, and a cache folder of its own. The
// class-load log is written only by starts that use an archive.
class CdsImage {
public:
    explicit CdsImage(const std::string& runtime = VANTREL_JDK_HOME) : image(Runtime::none) {
        fs::create_directory_symlink(runtime, utf8(image.runtimeDir()));
        install(L"cdsv1.jar");
        writeCfg("app.classpath=$APPDIR/app.jar\n");
    }

    void writeCfg(const std::string& application, const std::string& javaOptions = "",
                  const std::string& making = "") const {
        image.writeCfg(
            "[Application]\napp.cds=auto\n" + application +
            "app.mainclass=cds.Main\n[JavaOptions]\n" + javaOptions +
            "[AppCDSJavaOptions]\njava-options=-Xlog:class+load:file=" + utf8(classLog()) +
            "\n[AppCDSGenerateCacheJavaOptions]\n" + making);
    }

    // A new modification time, as a copy or an update gives it.
    void install(const tstring& jar, const tstring& name = L"app.jar") {
        const tstring path = FileUtils::joinPath(image.appDir(), name);
        fs::create_directories(fs::path(utf8(path)).parent_path());
        testsupport::writeFile(path, testsupport::readFile(javaProgram(jar)));
        fs::last_write_time(utf8(path),
                            fs::file_time_type::clock::now() + std::chrono::seconds(++age));
    }

    // The application's classes in app/classes, as the compiler left them.
    void installClassFolder() const {
        fs::copy(utf8(javaProgram(L"classes/cdsv1")), utf8(image.appDir()) + "/classes",
                 fs::copy_options::recursive);
    }

    tstring classLog() const { return FileUtils::joinPath(image.root(), L"classes.txt"); }
    std::string cdsDir() const { return utf8(cache.path()) + "/HelloApp/cds"; }

    ChildResult run(const tstring_array& args = {}, EnvChanges env = {}) const {
        env.emplace(L"XDG_CACHE_HOME", cache.path());
        env.emplace(L"VANTREL_DEBUG", L"true");
        return image.run(args, env);
    }

    // A first start that sleeps until the signal ends it, once it has printed its line. In the
    // foreground of the shell, whose background lists ignore SIGINT.
    ChildResult runEndedBy(int signal) const {
        const tstring out = FileUtils::joinPath(image.root(), L"out.txt");
        const std::string script =
            "(n=0; while ! grep -q version \"$1\" && [ $n -lt 600 ]; do sleep 0.1; n=$((n+1)); "
            "done; kill -" + std::to_string(signal) + " $$) & exec \"$0\" sleep >\"$1\"";
        ChildResult result = testsupport::runChild(
            L"/bin/sh", {L"-c", wide(script), image.exePath(), out},
            {{L"XDG_CACHE_HOME", cache.path()}, {L"VANTREL_DEBUG", L"true"}});
        result.out = testsupport::readFile(out);
        return result;
    }

    // The start's one decision, and that the JVM had nothing to say about it.
    static std::string decision(const ChildResult& result) {
        EXPECT_EQ(std::string::npos, result.err.find("[warning]")) << result.err;
        const std::string prefix = "Class-data archive: ";
        const std::size_t start = result.err.find(prefix);
        EXPECT_EQ(std::string::npos, result.err.find(prefix, start + 1)) << result.err;
        return start == std::string::npos
                   ? std::string()
                   : result.err.substr(start + prefix.size(),
                                       result.err.find('\n', start) - start - prefix.size());
    }

    std::vector<std::string> files(const std::string& suffix = "") const {
        std::error_code error; // none yet
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(cdsDir(), fs::directory_options(), error)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> archives() const { return files(".jsa"); }

    // The archive is made in the background: a bounded wait for it, which a start nudges when
    // the one that recorded could not start the creation itself.
    bool waitForArchive(std::size_t count = 1) const {
        for (int second = 0; second < 180 && archives().size() < count; ++second) {
            if (second == 5) {
                run();
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        return archives().size() >= count;
    }

    bool mainClassCameFromTheArchive() const {
        return testsupport::readFile(classLog()).find("cds.Main source: shared objects file") !=
               std::string::npos;
    }

    AppImage image;
    testsupport::TempDir cache;
    int age = 0;
};

class LinuxLauncherCds : public ::testing::Test, public CdsImage {};

bool archiveIn(const std::string& dir) {
    std::error_code error; // none yet
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (entry.path().extension() == ".jsa") {
            return true;
        }
    }
    return false;
}

struct RealJdk {
    int version;
    std::string home;
};

// The JDKs of this machine, found by their release files: the first before 24 and the first
// from 24 on, where archives also hold the linked classes.
std::vector<RealJdk> realJdks() {
    std::vector<RealJdk> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/jvm", error)) {
        const std::string release = entry.path().string() + "/release";
        const std::string text = fs::exists(release) ? testsupport::readFile(wide(release)) : "";
        const std::size_t at = text.find("JAVA_VERSION=\"");
        const int version = at == std::string::npos ? 0 : std::atoi(text.c_str() + at + 14);
        const auto sameKind = [version](const RealJdk& jdk) {
            return (jdk.version >= 24) == (version >= 24);
        };
        if (version >= 11 && fs::exists(entry.path() / "bin/javac") &&
            std::none_of(found.begin(), found.end(), sameKind)) {
            found.push_back({version, fs::canonical(entry.path()).string()});
        }
    }
    if (found.size() < 2) {
        std::printf("Only %zu of two kinds of JDK under /usr/lib/jvm: the start-up archive is "
                    "tested with what there is\n",
                    found.size());
    }
    return found;
}

// The JDK as a runtime without its base archives, as a runtime linked for Windows is: links
// to the JDK's files, and a copy of the JVM library, from which the runtime finds its home.
class RuntimeWithoutBaseArchive {
public:
    explicit RuntimeWithoutBaseArchive(const std::string& jdk) {
        const fs::path home = utf8(dir.path());
        fs::create_directories(home / "lib/server");
        for (const auto& entry : fs::directory_iterator(jdk)) {
            if (entry.path().filename() != "lib") {
                fs::create_symlink(entry.path(), home / entry.path().filename());
            }
        }
        for (const auto& entry : fs::directory_iterator(jdk + "/lib")) {
            if (entry.path().filename() != "server") {
                fs::create_symlink(entry.path(), home / "lib" / entry.path().filename());
            }
        }
        fs::copy_file(jdk + "/lib/server/libjvm.so", home / "lib/server/libjvm.so");
    }
    std::string home() const { return utf8(dir.path()); }

private:
    testsupport::TempDir dir;
};

} // namespace

// With each JDK, and with it stripped of its base archive: the first start records, the
// archive is made out of its way, later starts map it, and a changed jar never runs with a
// stale one. Nothing but the archive stays beside it.
TEST(LinuxLauncherCdsJdks, RecordedMadeInTheBackgroundUsedUntilTheJarChanges) {
    for (const RealJdk& jdk : realJdks()) {
        const RuntimeWithoutBaseArchive bare(jdk.home);
        for (const std::string& runtime : {jdk.home, bare.home()}) {
            SCOPED_TRACE(runtime);
            CdsImage app(runtime);
            ChildResult result = app.run({L"3"});
            EXPECT_EQ(3u, result.exitCode) << result.err;
            EXPECT_EQ("version 1\n", result.out);
            EXPECT_EQ(0u, CdsImage::decision(result).find("record " + app.cdsDir() + "/HelloApp-"))
                << result.err;
            ASSERT_TRUE(app.waitForArchive());
            const std::string archive = app.archives()[0];
            EXPECT_EQ((std::vector<std::string>{archive, archive.substr(0, archive.find('.')) + ".lock"}),
                      app.files());
            // A variable that this runtime never reads selects nothing.
            result = app.run({L"4"}, {{L"JDK_JAVA_OPTIONS", L"-Dunread=1"}});
            EXPECT_EQ(4u, result.exitCode) << result.err;
            EXPECT_EQ("version 1\n", result.out);
            EXPECT_EQ("use " + app.cdsDir() + "/" + archive, CdsImage::decision(result));
            EXPECT_TRUE(app.mainClassCameFromTheArchive());

            app.install(L"cdsv2.jar");
            result = app.run({L"5"});
            EXPECT_EQ(5u, result.exitCode) << result.err;
            EXPECT_EQ("version 2\n", result.out);
            EXPECT_EQ(0u, CdsImage::decision(result).find("record ")) << result.err;
            ASSERT_TRUE(app.waitForArchive(2));
            fs::remove(utf8(app.classLog()));
            result = app.run();
            EXPECT_EQ("version 2\n", result.out);
            EXPECT_EQ(0u, CdsImage::decision(result).find("use ")) << result.err;
            EXPECT_TRUE(app.mainClassCameFromTheArchive());
        }
    }
}

// However a first start ends, a later one maps an archive of what it recorded; of concurrent
// first starts only one records, and each runs as it would without.
TEST(LinuxLauncherCdsJdks, FirstStartsEndedBySignalsOrConcurrent) {
    for (const RealJdk& jdk : realJdks()) {
        for (const int signal : {SIGTERM, SIGINT, SIGKILL}) {
            SCOPED_TRACE(jdk.home + " signal " + std::to_string(signal));
            const CdsImage app(jdk.home);
            ChildResult result = app.runEndedBy(signal);
            EXPECT_EQ(static_cast<unsigned>(128 + signal), result.exitCode) << result.err;
            EXPECT_EQ("version 1\n", result.out);
            EXPECT_EQ(0u, CdsImage::decision(result).find("record ")) << result.err;
            ASSERT_TRUE(app.waitForArchive());
            result = app.run({L"2"});
            EXPECT_EQ(2u, result.exitCode);
            EXPECT_EQ(0u, CdsImage::decision(result).find("use ")) << result.err;
        }
        SCOPED_TRACE(jdk.home + " concurrent");
        const CdsImage app(jdk.home);
        std::vector<std::thread> starts;
        std::vector<ChildResult> results(4);
        for (ChildResult& result : results) {
            starts.emplace_back([&] { result = app.run({L"7"}); });
        }
        std::size_t recorded = 0;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            starts[i].join();
            EXPECT_EQ(7u, results[i].exitCode) << results[i].err;
            EXPECT_EQ("version 1\n", results[i].out);
            recorded += CdsImage::decision(results[i]).find("record ") == 0 ? 1 : 0;
        }
        EXPECT_EQ(1u, recorded);
        ASSERT_TRUE(app.waitForArchive());
        const ChildResult result = app.run();
        EXPECT_EQ(0u, CdsImage::decision(result).find("use ")) << result.err;
        EXPECT_EQ(1u, app.archives().size());
        EXPECT_TRUE(app.mainClassCameFromTheArchive());
    }
}

// Whatever the options, the paths or the runtime's failures, every start runs the application
// with its exit code and output, and the runtime's own messages stay off its output.
TEST(LinuxLauncherCdsJdks, EveryStartRunsTheApplicationWhateverTheOptionsAndPaths) {
    const std::string folderOfClasses = "none, the runtime can't archive the folder of classes ";
    const struct {
        std::string classPath;
        std::string javaOption;
        std::string making; // what a creation gets besides
        std::string decision; // of the first start; "record " when an archive is made
        bool made;
    } cases[] = {
        {"app.classpath=$APPDIR/classes\napp.classpath=$APPDIR/app.jar\n", "", "",
         folderOfClasses, false},
        // Links in circles, in a folder of jars and in a folder of classes.
        {"app.classpath=$APPDIR/app.jar\napp.classpath=$APPDIR/lib/*\n", "", "", "record ", true},
        {"app.classpath=$APPDIR/conf\napp.classpath=$APPDIR/app.jar\n", "", "", folderOfClasses,
         false},
        {"app.classpath=$APPDIR/app.jar\napp.modulepath=$APPDIR/lib\n", "", "",
         "none, the runtime can't", false},
        {"", "-Xbootclasspath/a:$APPDIR/boot", "", folderOfClasses, false},
        {"", "--limit-modules=java.base,java.logging", "", "none, the runtime maps no archive", false},
        {"", "--patch-module=java.base=$APPDIR/conf", "", "none, the runtime maps no archive", false},
        {"", "-XX:-UseSharedSpaces", "", "none, the Java options manage", false},
        // What changes the archive's layout is passed on to its creation.
        {"", "-Xmx40g", "", "record ", true},
        {"", "-XX:+UseZGC", "", "record ", true},
        {"", "-XX:-UseCompressedOops", "", "record ", true},
        // Nothing that writes files: the application's log is its own.
        {"", "-Xlog:gc:file=$APPDIR/gc.log", "", "record ", true},
        // A runtime that fails every creation costs three tries in the background, no start.
        {"", "", "java-options=-XX:+NoSuchOption\n", "record ", false}};
    for (const RealJdk& jdk : realJdks()) {
        for (const auto& item : cases) {
            SCOPED_TRACE(jdk.home + " " + item.classPath + item.javaOption);
            CdsImage app(jdk.home);
            app.writeCfg(item.classPath.empty() ? "app.classpath=$APPDIR/app.jar\n"
                                                : item.classPath,
                         item.javaOption.empty() ? "" : "java-options=" + item.javaOption + "\n",
                         item.making);
            app.installClassFolder();
            app.image.writeAppFile(L"boot/other/Other.class", "never loaded");
            for (const char* folder : {"lib", "conf"}) {
                const std::string dir = utf8(app.image.appDir()) + "/" + folder;
                fs::create_directories(dir);
                fs::create_directory_symlink(".", dir + "/a");
                fs::create_directory_symlink(".", dir + "/b");
            }
            for (int start = 0; start < 5; ++start) {
                const auto begin = std::chrono::steady_clock::now();
                const ChildResult result = app.run({L"5"});
                EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(60));
                EXPECT_EQ(5u, result.exitCode) << result.err;
                EXPECT_EQ("version 1\n", result.out);
                EXPECT_EQ(0u, CdsImage::decision(result).find(start == 0 ? item.decision : ""))
                    << result.err;
                if (start == 0 && item.made) {
                    EXPECT_TRUE(app.waitForArchive());
                    EXPECT_FALSE(fs::exists(utf8(app.image.appDir()) + "/gc.log.0"));
                } else if (start < 4 && !item.made && item.decision == "record ") {
                    std::this_thread::sleep_for(std::chrono::seconds(2)); // a creation fails

                }
            }
            EXPECT_EQ(item.made ? 1u : 0u, app.archives().size());
        }
    }
}

// Re-executed by the runtime, the process can't see its end: the next start takes what it
// recorded.
TEST_F(LinuxLauncherCds, RecordingOfAnUnseenEndIsAdoptedByTheNextStart) {
    const tstring serverDir = FileUtils::joinPath(image.runtimeDir(), L"lib/server");
    ChildResult result = image.run({}, {{L"XDG_CACHE_HOME", cache.path()},
                                        {L"VANTREL_DEBUG", L"true"},
                                        {L"LD_LIBRARY_PATH", serverDir}});
    EXPECT_NE(std::string::npos, result.err.find("Re-executed by ")) << result.err;
    EXPECT_EQ(0u, decision(result).find("record ")) << result.err;
    result = run();
    EXPECT_NE(std::string::npos, result.err.find("Adopted the class list ")) << result.err;
    EXPECT_EQ(0u, decision(result).find("none, making it in the background")) << result.err;
    ASSERT_TRUE(waitForArchive());
    result = run();
    EXPECT_EQ(0u, decision(result).find("use ")) << result.err;
    EXPECT_TRUE(mainClassCameFromTheArchive());
}

TEST_F(LinuxLauncherCds, FailuresLeaveTheStartAndItsExitCodeAlone) {
    // A file size limit fails the runtime's writing as a full disk does.
    ChildResult result = testsupport::runChild(
        L"/bin/sh", {L"-c", L"ulimit -f 10000 && exec \"$0\" 6", image.exePath()},
        {{L"XDG_CACHE_HOME", cache.path()}, {L"VANTREL_DEBUG", L"true"}});
    EXPECT_EQ(6u, result.exitCode) << result.err;
    EXPECT_EQ(0u, decision(result).find("none, only ")) << result.err;

    const struct {
        std::function<void()> prepare;
        std::string decision;
    } cases[] = {{[&] {
                      fs::remove_all(utf8(cache.path()) + "/HelloApp");
                      testsupport::writeFile(cache.path() + L"/HelloApp", "in the way");
                  },
                  "none, mkdir("},
                 {[&] { fs::permissions(cdsDir(), fs::perms::all); },
                  "none, " + cdsDir() + " is not private to this user"},
                 // A cut archive would crash the runtime.
                 {[&] { fs::resize_file(cdsDir() + "/" + archives()[0], 4096); }, "record "}};
    for (const auto& item : cases) {
        run();
        waitForArchive();
        item.prepare();
        result = run({L"5"});
        EXPECT_EQ(5u, result.exitCode) << result.err;
        EXPECT_EQ("version 1\n", result.out);
        EXPECT_EQ(0u, decision(result).find(item.decision)) << result.err;
        fs::remove_all(utf8(cache.path()) + "/HelloApp");
    }
    // The cache folder gone while the first start runs: its exit code stays.
    const std::string script = "\"$0\" 9 & pid=$!; rm -rf \"$1\"; wait $pid";
    result = testsupport::runChild(
        L"/bin/sh", {L"-c", wide(script), image.exePath(), cache.path() + L"/HelloApp"},
        {{L"XDG_CACHE_HOME", cache.path()}});
    EXPECT_EQ(9u, result.exitCode) << result.err;
    EXPECT_EQ("version 1\n", result.out);
}

// The cache folder and every folder and link on its way are safe from other users; a folder
// that the user's own group may change is, where that group is the user's alone.
TEST_F(LinuxLauncherCds, CacheOnlyInFoldersThatOtherUsersCannotChange) {
    const std::string shared = utf8(cache.path()) + "/shared";
    const struct {
        fs::perms permissions;
        gid_t group; // the user's own, or another's
        const char* link; // owned by this user or by nobody; empty: none
        bool used;
    } cases[] = {{fs::perms::owner_all, getegid(), "", true},
                 {fs::perms::all, getegid(), "", false},
                 {fs::perms::all | fs::perms::sticky_bit, getegid(), "", true},
                 {fs::perms::owner_all | fs::perms::group_all, getegid(), "", true},
                 {fs::perms::owner_all | fs::perms::group_all, 65534, "", false},
                 {fs::perms::all | fs::perms::sticky_bit, getegid(), "own", true},
                 {fs::perms::all | fs::perms::sticky_bit, getegid(), "nobody", false}};
    for (const auto& item : cases) {
        SCOPED_TRACE(&item - cases);
        if (std::string(item.link) == "nobody" && geteuid() != 0) {
            continue; // only root gives a link to another user
        }
        fs::remove_all(shared);
        fs::create_directories(shared + "/base");
        fs::permissions(shared, item.permissions);
        ASSERT_EQ(0, chown(shared.c_str(), geteuid(), item.group));
        std::string base = shared + "/base";
        if (*item.link) {
            base = shared + "/link";
            fs::create_directory_symlink(shared + "/base", base);
            if (std::string(item.link) == "nobody") {
                ASSERT_EQ(0, lchown(base.c_str(), 65534, 65534));
            }
        }
        const ChildResult result = run({L"2"}, {{L"XDG_CACHE_HOME", wide(base)}});
        EXPECT_EQ(2u, result.exitCode);
        const std::string made = decision(result);
        if (item.used) {
            // Always the checked folder, never the link that led there.
            EXPECT_EQ(0u, made.find("record " + shared + "/base/HelloApp/cds/")) << made;
            // The creation in the background ends before its folder goes.
            for (int wait = 0; wait < 600 && !archiveIn(shared + "/base/HelloApp/cds"); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        } else if (std::string(item.link) == "nobody") {
            EXPECT_EQ("none, " + base + " is a link of another user", made);
        } else {
            EXPECT_EQ("none, " + shared + " is not private to this user", made);
        }
    }
}
#endif
