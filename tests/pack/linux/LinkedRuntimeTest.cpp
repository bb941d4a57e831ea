// Linked runtimes that real applications can trust: every jar the application loads is
// analysed, service providers come by default, class path wildcards, runtimes and jmods as
// they are found; and Debian's own Java applications, packed, print what Debian's start
// scripts print.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "FileUtils.h"
#include "PackFiles.h"
#include "TestSupport.h"

using testsupport::ChildResult;

namespace fs = std::filesystem;

namespace {

tstring javaProgram(const tstring& name) {
    return FileUtils::joinPath(tstrings::fromUtf8(VANTREL_JAVA_PROGRAMS), name);
}

// java.base alone, made by the build.
tstring smallRuntime() {
    return FileUtils::joinPath(FileUtils::parentPath(testsupport::binaryDir()), L"jlinkruntime");
}

std::string utf8(const tstring& text) {
    return tstrings::toUtf8(text);
}

class LinkedRuntime : public ::testing::Test {
protected:
    LinkedRuntime() {
        testsupport::makeDirectories(FileUtils::joinPath(input(), L"lib"));
        PackFiles::copyFile(javaProgram(L"providers.jar"), in(L"app.jar"));
        PackFiles::copyFile(javaProgram(L"logdep.jar"), in(L"lib/logdep.jar"));
    }

    tstring input() const { return FileUtils::joinPath(dir.path(), L"in"); }
    tstring in(const tstring& path) const { return FileUtils::joinPath(input(), path); }
    tstring dest() const { return FileUtils::joinPath(dir.path(), L"dest"); }
    tstring image(const tstring& name) const { return FileUtils::joinPath(dest(), name); }

    ChildResult pack(const tstring& name, tstring_array args) const {
        args.insert(args.end(), {L"--name", name, L"--dest", dest()});
        if (std::find(args.begin(), args.end(), L"--input") == args.end()) {
            args.insert(args.end(), {L"--input", input()});
        }
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args);
    }

    ChildResult run(const tstring& name, const tstring_array& args = {}) const {
        return testsupport::runChild(FileUtils::joinPath(image(name), name), args);
    }

    testsupport::TempDir dir;
};

// The main jar's manifest alone names lib/logdep.jar, which alone needs java.logging; the
// providers come by default from either JDK, and only those asked for in the smallest runtime.
TEST_F(LinkedRuntime, ManifestDependenciesAndServiceProviders) {
    tstring_array jdks = {L""}; // the JDK of the javac on the path
    if (PackFiles::isFile(L"/usr/lib/jvm/temurin-25-jdk-amd64/release")) {
        jdks.push_back(L"/usr/lib/jvm/temurin-25-jdk-amd64");
    }
    for (const tstring& jdk : jdks) {
        tstring_array args = {L"--main-jar", L"app.jar"};
        if (!jdk.empty()) {
            args.insert(args.end(), {L"--jlink-from", jdk});
        }
        const ChildResult packed = pack(L"Full", args);
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        EXPECT_NE(packed.out.find(",jdk.charsets,jdk.crypto.ec,jdk.localedata,"), std::string::npos)
            << packed.out;
        EXPECT_EQ(run(L"Full").out, "logger=vtest\nec=EC\ncharset=ok\nlocale=lundi\nzipfs=jar\n");

        fs::remove_all(PackFiles::fsPath(dest()));
        if (!jdk.empty()) {
            continue; // the smallest runtime once is enough
        }
        args.insert(args.end(), {L"--no-provider-modules", L"--extra-modules", L"jdk.zipfs"});
        const ChildResult small = pack(L"Small", args);
        ASSERT_EQ(small.exitCode, 0u) << small.err;
        EXPECT_NE(small.out.find("modules java.base,java.logging,jdk.zipfs\n"), std::string::npos)
            << small.out;
        const std::string out = run(L"Small").out;
        EXPECT_NE(out.find("locale=Mon\nzipfs=jar\n"), std::string::npos) << out;
    }
}

TEST_F(LinkedRuntime, ClassPathWildcardsTakeTheJarsOfAFolderSortedByName) {
    for (const wchar_t* file : {L"lib/b.JAR", L"lib/notes.txt", L"lib/sub/x.jar", L"top.jar"}) {
        testsupport::makeDirectories(FileUtils::parentPath(in(file)));
        PackFiles::copyFile(javaProgram(L"hello.jar"), in(file));
    }
    testsupport::makeDirectories(in(L"empty"));
    const ChildResult packed =
        pack(L"Wild", {L"--main-jar", L"top.jar", L"--class-path", L"lib/*", L"--class-path",
                       L"empty/*:*", L"--runtime", smallRuntime()});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_NE(packed.out.find("The class path entry empty/* holds no jar\n"), std::string::npos)
        << packed.out;
    // The main jar once, at the head; then each folder's jars in name order.
    EXPECT_EQ(testsupport::readFile(FileUtils::joinPath(image(L"Wild"), L"app/Wild.cfg")),
              "[Application]\napp.classpath=$APPDIR/top.jar\napp.classpath=$APPDIR/lib/b.JAR\n"
              "app.classpath=$APPDIR/lib/logdep.jar\napp.classpath=$APPDIR/app.jar\n"
              "app.mainclass=hello.Main\napp.cds=auto\n");
    EXPECT_EQ(run(L"Wild").exitCode, 0u);
}

TEST_F(LinkedRuntime, ARuntimeWithADanglingLinkIsCopiedWithoutIt) {
    const tstring runtime = FileUtils::joinPath(dir.path(), L"rt");
    PackFiles::copyTree(smallRuntime(), runtime);
    fs::create_symlink("../../nowhere/src.zip", PackFiles::fsPath(runtime) / "lib/src.zip");
    PackFiles::copyFile(javaProgram(L"hello.jar"), in(L"hello.jar"));
    const ChildResult packed = pack(L"Rt", {L"--main-jar", L"hello.jar", L"--runtime", runtime});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_NE(packed.out.find("Skipped the symbolic link " + utf8(runtime) +
                              "/lib/src.zip, which leads nowhere\n"),
              std::string::npos)
        << packed.out;
    EXPECT_FALSE(PackFiles::exists(FileUtils::joinPath(image(L"Rt"), L"runtime/lib/src.zip")));
    EXPECT_EQ(run(L"Rt").exitCode, 0u);
}

TEST_F(LinkedRuntime, RefusalsAreOneLineAndLeaveNothingBehind) {
    const tstring file = FileUtils::joinPath(dir.path(), L"file");
    testsupport::writeFile(file, "");
    const tstring noBase = FileUtils::joinPath(dir.path(), L"nobase");
    testsupport::makeDirectories(noBase);
    const tstring notJmod = FileUtils::joinPath(dir.path(), L"notjmod");
    testsupport::makeDirectories(notJmod);
    testsupport::writeFile(FileUtils::joinPath(notJmod, L"java.base.jmod"), "JM\1\0not a zip");
    // Linux jmods, for a Windows target.
    const tstring linuxJmods = FileUtils::joinPath(dir.path(), L"linuxjmods");
    testsupport::makeDirectories(linuxJmods);
    const tstring jdkJmods = L"/usr/lib/jvm/java-17-openjdk-amd64/jmods/java.base.jmod";
    const bool haveJmods = PackFiles::isFile(jdkJmods);
    if (haveJmods) {
        fs::create_symlink(PackFiles::fsPath(jdkJmods),
                           PackFiles::fsPath(FileUtils::joinPath(linuxJmods, L"java.base.jmod")));
    }
    const struct {
        tstring_array options;
        std::string error;
    } cases[] = {
        {{L"--input", file}, "the input " + utf8(file) + " is not a directory"},
        {{L"--runtime", file}, "the runtime " + utf8(file) + " is not a directory"},
        {{L"--jmods", file}, "the jmods " + utf8(file) + " is not a directory"},
        {{L"--jmods", noBase}, "the jmods directory " + utf8(noBase) + " has no java.base.jmod"},
        {{L"--jmods", notJmod},
         "the jmods directory " + utf8(notJmod) + " has a java.base.jmod that is no jmod"},
        {{L"--jmods", linuxJmods, L"--target", L"windows", L"--launcher", L"/bin/true"},
         haveJmods ? "the jmods directory " + utf8(linuxJmods) +
                         " is made for another platform: its java.base has no bin/jli.dll"
                   : "the jmods directory " + utf8(linuxJmods) + " has no java.base.jmod"},
        // x86-64 jmods and runtime for the ARM launcher.
        {{L"--jmods", linuxJmods, L"--target", L"linux-aarch64"},
         haveJmods ? "the jmods directory " + utf8(linuxJmods) +
                         " is made for another platform: its lib/libjli.so is for another machine"
                   : "the jmods directory " + utf8(linuxJmods) + " has no java.base.jmod"},
        {{L"--runtime", smallRuntime(), L"--target", L"linux-aarch64"},
         "the runtime " + utf8(smallRuntime()) +
             " is for another machine: its lib/libjli.so can't serve the linux-aarch64 launcher"},
        {{L"--target", L"linux-aarch64"},
         "linking a linux-aarch64 runtime on linux-x86_64 needs --jmods DIR (the jmods of that "
         "platform's JDK), or give --runtime"},
        {{L"--class-path", L"nope/*"},
         "the class path entry nope/* names no folder of the input " + utf8(input())},
        {{L"--extra-modules", L"jdk.nope"},
         "jlink failed with exit code 1: Error: Module jdk.nope not found"},
    };
    for (const auto& c : cases) {
        tstring_array args = c.options;
        args.insert(args.end(), {L"--main-jar", L"app.jar"});
        const ChildResult result = pack(L"App", args);
        EXPECT_EQ(result.exitCode, 1u) << c.error;
        EXPECT_EQ(result.err, "vantrel-pack: " + c.error + "\n");
        EXPECT_FALSE(PackFiles::exists(dest())) << c.error;
    }
}

// Debian's JDK 17 for arm64, unpacked by scripts/test-roots.sh.
tstring armJdk() {
    const char* const cache = std::getenv("VANTREL_TEST_CACHE");
    return FileUtils::joinPath(tstrings::fromUtf8(cache ? cache : "/var/cache/vantrel-test"),
                               L"jdk17-arm64");
}

// An image linked from the ARM jmods runs under qemu-user as the x86-64 image runs here: the
// same output, the application's exit code, variables through -E. Then its deb is arm64.
// The ARM libraries are the multiarch ones (libc6:arm64 and the rest, from scripts/setup.sh):
// with -L /usr/aarch64-linux-gnu the cross toolchain's loader met the multiarch libc of another
// build through the host's ld.so.cache, and the runtime hung in its start.
TEST_F(LinkedRuntime, AnArmImageRunsUnderEmulationAsTheX86ImageRunsHere) {
    if (!PackFiles::isFile(FileUtils::PathBuilder() << armJdk() << L"jmods" << L"java.base.jmod")) {
        GTEST_SKIP() << "no ARM JDK at " << utf8(armJdk()) << ": run scripts/test-roots.sh";
    }
    PackFiles::copyFile(javaProgram(L"cdsv1.jar"), in(L"cds.jar"));
    const tstring_array common = {L"--main-jar", L"cds.jar", L"--main-class", L"cds.Main",
                                  L"--quiet"};
    tstring_array armArgs = common;
    armArgs.insert(armArgs.end(), {L"--target", L"linux-aarch64", L"--jmods",
                                   FileUtils::joinPath(armJdk(), L"jmods")});
    ASSERT_EQ(pack(L"X86", common).exitCode, 0u);
    const ChildResult packed = pack(L"Arm", armArgs);
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_EQ(packed.err, "");
    const std::string launcher = testsupport::readFile(FileUtils::joinPath(image(L"Arm"), L"Arm"));
    EXPECT_EQ(launcher.substr(18, 2), std::string("\xb7\x00", 2)) << "not an aarch64 launcher";

    const tstring cache = FileUtils::joinPath(dir.path(), L"cache");
    const ChildResult expected =
        testsupport::runChild(FileUtils::joinPath(image(L"X86"), L"X86"), {L"7"});
    for (int start = 0; start < 2; ++start) {
        // The launcher's trace shows the variable arrived; a second start finds the class list
        // of the first (making the archive from it needs a process that the kernel can run).
        const ChildResult arm = testsupport::runChild(
            L"/usr/bin/qemu-aarch64",
            {L"-L", L"/", L"-E", L"VANTREL_DEBUG=true", L"-E", L"XDG_CACHE_HOME=" + cache,
             FileUtils::joinPath(image(L"Arm"), L"Arm"), L"7"});
        EXPECT_EQ(arm.out, expected.out);
        EXPECT_EQ(expected.out, "version 1\n");
        EXPECT_EQ(arm.exitCode, 7u) << arm.err;
        EXPECT_NE(arm.err.find("Class-data archive: "), std::string::npos) << arm.err;
    }

    armArgs.insert(armArgs.end(), {L"--type", L"deb", L"--input", input()});
    const ChildResult deb = pack(L"Arm", armArgs);
    ASSERT_EQ(deb.exitCode, 0u) << deb.err;
    const ChildResult fields = testsupport::runChild(
        L"/usr/bin/dpkg-deb", {L"--field", FileUtils::joinPath(dest(), L"arm_1.0_arm64.deb"),
                               L"Architecture", L"Depends"});
    EXPECT_EQ(fields.out.substr(0, 20), "Architecture: arm64\n") << fields.out << fields.err;
    EXPECT_NE(fields.out.find("Depends: libc6 (>= "), std::string::npos) << fields.out;
    armArgs.back() = input();
    armArgs[armArgs.size() - 3] = L"rpm";
    ASSERT_EQ(pack(L"Arm", armArgs).exitCode, 0u);
    const ChildResult rpm = testsupport::runChild(
        L"/usr/bin/rpm", {L"-qp", L"--qf", L"%{ARCH} [%{REQUIRES} ]",
                          FileUtils::joinPath(dest(), L"arm-1.0-1.aarch64.rpm")});
    EXPECT_EQ(rpm.out.substr(0, 8), "aarch64 ") << rpm.out << rpm.err;
    EXPECT_NE(rpm.out.find("libc.so.6(GLIBC_2.17)(64bit)"), std::string::npos) << rpm.out;
}

// Debian's start scripts and the images packed from the same jars, with the same arguments.
TEST_F(LinkedRuntime, DebianApplicationsPrintWhatTheirStartScriptsPrint) {
    const struct {
        const wchar_t* script;
        const wchar_t* mainJar;
        const wchar_t* dependencies; // from /usr/share/java, into lib/
        tstring_array options;       // as the start script runs it
        tstring_array args;
    } apps[] = {
        // Script code reaches what jdeps can't see: EC keys and locale data.
        {L"rhino",
         L"js.jar",
         L"jline.jar",
         {},
         {L"-e", L"print(java.security.KeyPairGenerator.getInstance('EC').getAlgorithm());"
                 L"print(java.text.DateFormatSymbols.getInstance(java.util.Locale.GERMAN)"
                 L".getWeekdays()[2]);print(java.util.Locale.getDefault())"}},
        {L"jflex",
         L"jflex.jar",
         L"cup.jar cup_runtime.jar",
         {L"--java-options", L"-Xmx128m"},
         {L"--version"}},
        {L"checkstyle",
         L"checkstyle.jar",
         L"antlr4-runtime.jar commons-lang3.jar commons-beanutils.jar commons-collections3.jar "
         L"guava.jar commons-cli.jar commons-logging.jar picocli.jar Saxon-HE.jar reflections.jar",
         {L"--main-class", L"com.puppycrawl.tools.checkstyle.Main"},
         {L"--version"}},
    };
    int packedApps = 0;
    for (const auto& app : apps) {
        const tstring script = FileUtils::joinPath(L"/usr/bin", app.script);
        if (!PackFiles::isFile(script)) {
            continue; // scripts/setup.sh installs them
        }
        ++packedApps;
        const tstring appInput = FileUtils::joinPath(dir.path(), app.script);
        testsupport::makeDirectories(FileUtils::joinPath(appInput, L"lib"));
        PackFiles::copyFile(FileUtils::joinPath(L"/usr/share/java", app.mainJar),
                            FileUtils::joinPath(appInput, app.mainJar));
        for (const tstring& jar : tstrings::split(app.dependencies, L" ")) {
            PackFiles::copyFile(FileUtils::joinPath(L"/usr/share/java", jar),
                                FileUtils::joinPath(appInput, L"lib/" + jar));
        }
        tstring_array args = {L"--input",      appInput, L"--main-jar", app.mainJar,
                              L"--class-path", L"lib/*", L"--quiet"};
        args.insert(args.end(), app.options.begin(), app.options.end());
        const ChildResult packed = pack(app.script, args);
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        const ChildResult expected = testsupport::runChild(script, app.args);
        ASSERT_NE(expected.out, "") << expected.err;
        const ChildResult actual = run(app.script, app.args);
        EXPECT_EQ(actual.out, expected.out) << actual.err;
        EXPECT_EQ(actual.exitCode, expected.exitCode);
        std::printf("%ls: runtime %.1f MiB\n", app.script,
                    static_cast<double>(
                        PackFiles::treeSize(FileUtils::joinPath(image(app.script), L"runtime"))) /
                        (1 << 20));
    }
    if (packedApps == 0) {
        GTEST_SKIP() << "none of Debian's rhino, jflex and checkstyle is installed";
    }
}

} // namespace
