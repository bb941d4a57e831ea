#include "AppLauncher.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "JvmLauncher.h"
#include "SysInfo.h"
#include "TestSupport.h"

namespace {

using FileUtils::joinPath;

const tstring listSeparator(1, FileUtils::pathListSeparator);

// Only a Windows launcher has an extension; the configuration takes the rest of its name.
#ifdef _WIN32
const wchar_t* const exeSuffix = L".exe";
#else
const wchar_t* const exeSuffix = L"";
#endif

tstring toUpperAscii(tstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    });
    return text;
}

// The bare message of the error that makeJvm raises.
std::string makeJvmError(const AppLauncher& appLauncher) {
    try {
        appLauncher.makeJvm();
    } catch (const std::runtime_error& error) {
        const auto* own = dynamic_cast<const VtErrorBase*>(&error);
        return own ? own->bareMessage() : std::string("foreign error: ") + error.what();
    }
    return "no error";
}

// An application image in a temporary folder: <root>/<exe>, <root>/MyApp (mixed case on purpose),
// <root>/runtime.
class AppLauncherTest : public ::testing::Test {
protected:
    AppLauncherTest()
        : root(temp.path()), appDir(joinPath(root, L"MyApp")),
          runtimeDir(joinPath(root, L"runtime")) {
        testsupport::makeDirectories(appDir);
    }

    tstring exePath(const tstring& name = L"hello") const {
        return joinPath(root, name + exeSuffix);
    }

    // The search variable is private to each test, so the real PATH is never touched.
    tstring libSearchVar() const {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return tstrings::fromUtf8(std::string("VANTREL_APPLAUNCHER_TEST_") + info->name());
    }

    AppLauncher launcher(const tstring_array& args = {}, const tstring& exe = tstring()) const {
        AppLauncher result(args, exe.empty() ? exePath() : exe);
        result.setImageRootDir(root)
            .addJvmLibCandidate(JavaRuntime::launcherLibCandidate)
            .setAppDirectory(appDir)
            .setLibSearchVarName(libSearchVar())
            .setFallbackRuntimeDir(runtimeDir);
        return result;
    }

    static tstring installRuntime(const tstring& dir) {
        const tstring lib = joinPath(dir, JavaRuntime::launcherLibCandidate);
        testsupport::makeDirectories(FileUtils::parentPath(lib));
        testsupport::writeFile(lib, "not really a library");
        return lib;
    }

    static void writeCfg(const tstring& dir, const std::string& content,
                         const tstring& name = L"hello.cfg") {
        testsupport::makeDirectories(dir);
        testsupport::writeFile(joinPath(dir, name), content);
    }

    testsupport::LogRecorder log;
    testsupport::TempDir temp;
    tstring root;
    tstring appDir;
    tstring runtimeDir;
};

const std::string malformedCfg = "[Application\napp.mainclass=Wrong\n";

// --- Where the configuration file comes from ---

TEST_F(AppLauncherTest, CfgFileIsNamedAfterTheLauncherAndDefaultsToTheAppDirectory) {
    EXPECT_EQ(joinPath(appDir, L"hello.cfg"), launcher().getCfgFilePath()); // need not exist
    EXPECT_EQ(joinPath(appDir, L"my.app.cfg"), launcher({}, exePath(L"my.app")).getCfgFilePath());
    EXPECT_EQ(joinPath(appDir, L"launcher.cfg"),
              launcher({}, exePath(L"launcher")).getCfgFilePath());
}

TEST_F(AppLauncherTest, FirstExistingLookupFileIsTheOnlyOneCheckedAndRead) {
    installRuntime(runtimeDir);
    const tstring none = joinPath(root, L"user0");
    const tstring first = joinPath(root, L"user1");
    const tstring second = joinPath(root, L"user2");
    writeCfg(first, "[Application]\napp.mainclass=FromUserDir\n");
    writeCfg(second, malformedCfg); // reading it would fail
    writeCfg(appDir, malformedCfg);

    AppLauncher appLauncher = launcher();
    appLauncher.addCfgLookupDir(none).addCfgLookupDir(first).addCfgLookupDir(second);
    EXPECT_EQ(L"FromUserDir", appLauncher.makeJvm()->getArguments().back());
    EXPECT_EQ((tstring_array{L"Check [" + joinPath(none, L"hello.cfg") + L"] file exit",
                             L"Check [" + joinPath(first, L"hello.cfg") + L"] file exit"}),
              log.messages(L"TRACE", L"Check ["));
    EXPECT_EQ(
        (tstring_array{L"Launcher config file path: \"" + joinPath(first, L"hello.cfg") + L"\""}),
        log.messages(L"TRACE", L"Launcher config file path: "));

    AppLauncher withoutUserFiles = launcher();
    withoutUserFiles.addCfgLookupDir(none);
    EXPECT_EQ(joinPath(appDir, L"hello.cfg"), withoutUserFiles.getCfgFilePath());
}

TEST_F(AppLauncherTest, MacrosComeFromTheLauncherPaths) {
    installRuntime(runtimeDir);
    const tstring binDir = joinPath(root, L"bin");
    writeCfg(appDir, "[JavaOptions]\n"
                     "java-options=$APPDIR\n"
                     "java-options=$BINDIR|$ROOTDIR\n");
    const std::unique_ptr<CfgFile> cfg =
        launcher({}, joinPath(binDir, tstring(L"hello") + exeSuffix)).createCfgFile();

    const CfgSection& options = cfg->section(SectionName::JavaOptions);
    const auto values = options.find(PropertyName::javaOptions);
    ASSERT_NE(options.end(), values);
    EXPECT_EQ((tstring_array{appDir, binDir + L"|" + root}), values->second);
}

// --- Where the runtime's launcher library comes from ---

TEST_F(AppLauncherTest, WithoutAppRuntimeTheFallbackRuntimeIsUsed) {
    const tstring lib = installRuntime(runtimeDir);
    writeCfg(appDir, "[Application]\napp.mainclass=Main\n");
    EXPECT_EQ(lib, launcher().makeJvm()->getLauncherLibPath());
    EXPECT_EQ((tstring_array{L"Property \"app.runtime\" not found in \"Application\" section of "
                             L"launcher config file. Using Java runtime from \"" +
                             runtimeDir + L"\" directory"}),
              log.messages(L"TRACE", L"Property "));

    const tstring noRuntime = joinPath(root, L"elsewhere");
    EXPECT_EQ("Failed to find JVM in \"" + tstrings::toUtf8(noRuntime) + "\" directory.",
              makeJvmError(launcher().setFallbackRuntimeDir(noRuntime)));
}

TEST_F(AppLauncherTest, AppRuntimeIsUsedAsConfiguredWithoutFallingBack) {
    installRuntime(runtimeDir);
    installRuntime(joinPath(root, L"jdk"));
    writeCfg(appDir, "[Application]\napp.runtime=$ROOTDIR/jdk\n");
    EXPECT_EQ(joinPath(root + L"/jdk", JavaRuntime::launcherLibCandidate),
              launcher().makeJvm()->getLauncherLibPath());
    EXPECT_TRUE(log.messages(L"TRACE", L"Property ").empty());

    const tstring empty = joinPath(root, L"empty");
    testsupport::makeDirectories(empty);
    writeCfg(appDir, "[Application]\napp.runtime=" + tstrings::toUtf8(empty) + "\n");
    EXPECT_EQ("Failed to find JVM in \"" + tstrings::toUtf8(empty) + "\" directory.",
              makeJvmError(launcher()));
}

TEST_F(AppLauncherTest, LibraryCandidatesAreTriedInOrder) {
    writeCfg(appDir, "");
    const tstring lib = installRuntime(runtimeDir);
    testsupport::makeDirectories(joinPath(runtimeDir, L"app"));
    AppLauncher appLauncher(tstring_array{}, exePath());
    appLauncher.setAppDirectory(appDir)
        .setLibSearchVarName(libSearchVar())
        .setFallbackRuntimeDir(runtimeDir);
    EXPECT_EQ("Failed to find JVM in \"" + tstrings::toUtf8(runtimeDir) + "\" directory.",
              makeJvmError(appLauncher));

    appLauncher.addJvmLibCandidate(L"missing.lib")
        .addJvmLibCandidate(JavaRuntime::launcherLibCandidate)
        .addJvmLibCandidate(L"app"); // exists as well, but comes later
    EXPECT_EQ(lib, appLauncher.makeJvm()->getLauncherLibPath());
}

// --- The Jvm that comes out ---

TEST_F(AppLauncherTest, NothingConfiguredGivesExactlyTwoElements) {
    installRuntime(runtimeDir);
    const tstring self = SysInfo::getExecutablePath();
    writeCfg(appDir, "", FileUtils::appNameOfLauncher(self) + L".cfg");
    const std::unique_ptr<Jvm> jvm = launcher({}, self).makeJvm();
    EXPECT_EQ((tstring_array{self, L"-Dvantrel.app-path=" + self}), jvm->getArguments());
}

TEST_F(AppLauncherTest, CommandLineArgumentsReplaceConfiguredOnesUnexpanded) {
    installRuntime(runtimeDir);
    writeCfg(appDir, "[Application]\napp.mainclass=Main\n"
                     "[ArgOptions]\narguments=A\narguments=$APPDIR\n");
    const tstring_array configured = launcher().makeJvm()->getArguments();
    EXPECT_EQ((tstring_array{L"Main", L"A", appDir}),
              tstring_array(configured.begin() + 2, configured.end()));

    const tstring_array replaced = launcher({L"X", L"$APPDIR"}).makeJvm()->getArguments();
    EXPECT_EQ(exePath(), replaced[0]);
    EXPECT_EQ((tstring_array{L"Main", L"X", L"$APPDIR"}),
              tstring_array(replaced.begin() + 2, replaced.end()));
}

TEST_F(AppLauncherTest, BorrowedConfigurationIsUsedWithoutReadingOrChangingIt) {
    installRuntime(runtimeDir);
    writeCfg(appDir, malformedCfg); // would fail if it were read
    CfgFile preset;
    preset.putProperty(SectionName::Application, PropertyName::mainclass, {L"Preset"});
    preset.putProperty(SectionName::ArgOptions, PropertyName::arguments, {L"A"});

    AppLauncher appLauncher = launcher({L"X"});
    appLauncher.setPresetCfgFile(&preset);
    const AppLauncher copy = appLauncher; // the copy borrows the same file
    const tstring_array args = copy.makeJvm()->getArguments();

    EXPECT_EQ((tstring_array{L"Preset", L"X"}), tstring_array(args.end() - 2, args.end()));
    EXPECT_EQ((tstring_array{L"A"}),
              preset.section(SectionName::ArgOptions).at(PropertyName::arguments));
}

// --- The library search variable ---

TEST_F(AppLauncherTest, SearchVariableListsTheAppDirOnlyAsAWholeEntryInAnyCase) {
    installRuntime(runtimeDir);
    writeCfg(appDir, "");
    const tstring var = libSearchVar();
    SysInfo::setEnvVariable(var, L"other" + listSeparator + toUpperAscii(appDir));
    EXPECT_TRUE(launcher().libSearchVarHasAppDir());
    EXPECT_TRUE(launcher().makeJvm()->getEnvNames().empty());

    SysInfo::setEnvVariable(var, listSeparator + appDir + listSeparator);
    EXPECT_TRUE(launcher().libSearchVarHasAppDir());
    SysInfo::setEnvVariable(var, appDir + L"x" + listSeparator + L"y" + appDir);
    EXPECT_FALSE(launcher().libSearchVarHasAppDir());
}

TEST_F(AppLauncherTest, SearchVariableWithoutTheAppDirIsExtendedForTheJvm) {
    installRuntime(runtimeDir);
    writeCfg(appDir, "");
    const tstring current = L"Other" + listSeparator + appDir + FileUtils::pathSeparator;
    SysInfo::setEnvVariable(libSearchVar(), current);
    const std::unique_ptr<Jvm> jvm = launcher().makeJvm();
    EXPECT_EQ((tstring_array{libSearchVar()}), jvm->getEnvNames());
    EXPECT_EQ((tstring_array{current + listSeparator + appDir}), jvm->getEnvValues());

    AppLauncher unset = launcher();
    unset.setLibSearchVarName(libSearchVar() + L"_UNSET");
#ifdef _WIN32
    EXPECT_EQ((tstring_array{listSeparator + appDir}), unset.makeJvm()->getEnvValues());
#else
    // An empty entry would add the current directory to the library search.
    EXPECT_EQ((tstring_array{appDir}), unset.makeJvm()->getEnvValues());
#endif
}

} // namespace
