// The JVM start against the machine's own JDK: a runtime that nobody here wrote.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "Dll.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "SysInfo.h"
#include "TestSupport.h"

namespace {

// The JDK as a user's machine has it: JAVA_HOME, else the one whose bin directory holds the
// javac found on PATH, links resolved.
tstring findJdk() {
    const tstring javaHome = SysInfo::getEnvVariable(std::nothrow, L"JAVA_HOME", L"");
    if (!javaHome.empty()) {
        return javaHome;
    }
    const tstring path = SysInfo::getEnvVariable(std::nothrow, L"PATH", L"");
    for (const tstring& dir : tstrings::split(path, L":")) {
        const std::string javac = tstrings::toUtf8(FileUtils::joinPath(dir, L"javac"));
        if (dir.empty() || ::access(javac.c_str(), X_OK) != 0) {
            continue;
        }
        const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(javac.c_str(), nullptr),
                                                                ::free);
        if (resolved) {
            return FileUtils::parentPath(FileUtils::parentPath(tstrings::fromUtf8(resolved.get())));
        }
    }
    return tstring();
}

// Where the build compiled the Java test program (cmake/JavaTestPrograms.cmake).
tstring classDir() {
    return FileUtils::PathBuilder()
           << FileUtils::parentPath(testsupport::binaryDir()) << L"java" << L"realjvm";
}

class RealJvm : public ::testing::Test {
protected:
    static void SetUpTestSuite() { jdk = findJdk(); }

    void SetUp() override {
        ASSERT_FALSE(jdk.empty()) << "no JDK: neither JAVA_HOME nor a javac on PATH";
        ASSERT_TRUE(FileUtils::pathExists(jliPath())) << tstrings::toUtf8(jliPath());
    }

    static tstring jliPath() { return FileUtils::joinPath(jdk, JavaRuntime::launcherLibCandidate); }

    testsupport::ChildResult run(const tstring& mainClass, const tstring_array& appArgs) const {
        tstring_array args{jdk, classDir(), mainClass};
        args.insert(args.end(), appArgs.begin(), appArgs.end());
        // A UTF-8 locale, so that the JVM decodes the arguments as UTF-8; nothing that makes the
        // JVM pick up options of its own.
        return testsupport::runChild(testsupport::fixturePath(L"realjvmfixture"), args,
                                     {{L"LC_ALL", tstring(L"C.UTF-8")},
                                      {L"JAVA_TOOL_OPTIONS", std::nullopt},
                                      {L"_JAVA_OPTIONS", std::nullopt},
                                      {L"JDK_JAVA_OPTIONS", std::nullopt},
                                      {L"VANTREL_DEBUG", std::nullopt},
                                      {L"VANTREL_REALJVM_VAR", std::nullopt}});
    }

    static std::string appPathLine() {
        return "app-path:[" + tstrings::toUtf8(testsupport::fixturePath(L"realjvmfixture")) + "]\n";
    }

    static tstring jdk;
};

tstring RealJvm::jdk;

TEST_F(RealJvm, LauncherLibraryOfTheJdkLoadsThroughDll) {
    const Dll jli(tstrings::TextBuilder() << jliPath());
    EXPECT_NE(jli.getFunction(JavaRuntime::launchEntryName, true), nullptr);
}

TEST_F(RealJvm, JavaProgramSeesArgumentsAppPathAndEnvironment) {
    const testsupport::ChildResult result =
        run(L"RealJvmProbe", {L"plain", L"with  spaces", L"non-ASCII \u00e9\u00fc \u6f22\u5b57",
                              L"-Dnot.for.the.jvm=1", L""});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "arg:[plain]\n"
                          "arg:[with  spaces]\n"
                          "arg:[non-ASCII \xC3\xA9\xC3\xBC \xE6\xBC\xA2\xE5\xAD\x97]\n"
                          "arg:[-Dnot.for.the.jvm=1]\n"
                          "arg:[]\n" +
                              appPathLine() + "env:[set by the launcher]\n");
    EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(RealJvm, SystemExitEndsTheProcessWithItsCode) {
    const testsupport::ChildResult result = run(L"RealJvmProbe", {L"exit=42"});
    EXPECT_EQ(result.out, "arg:[exit=42]\n" + appPathLine() + "env:[set by the launcher]\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 42u);
}

TEST_F(RealJvm, ExceptionLeavingMainFailsTheLaunch) {
    const testsupport::ChildResult result = run(L"RealJvmProbe", {L"throw"});
    EXPECT_EQ(result.out, "arg:[throw]\n" + appPathLine() + "env:[set by the launcher]\n");
    const std::string last = "\nFailed to launch JVM\n";
    ASSERT_GE(result.err.size(), last.size()) << result.err;
    EXPECT_EQ(result.err.substr(result.err.size() - last.size()), last) << result.err;
    EXPECT_NE(result.err.find("IllegalStateException: thrown by the probe"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.exitCode, 1u);
}

// The JDK reports this one itself and ends the process before JLI_Launch could return.
TEST_F(RealJvm, MissingMainClassEndsTheProcessWithAFailure) {
    const testsupport::ChildResult result = run(L"NoSuchMainClass", {L"a"});
    EXPECT_NE(result.err.find("NoSuchMainClass"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exitCode, 1u);
}

} // namespace
