// vantrel-pack as users run it: images packed with the machine's JDK, then started.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "FileUtils.h"
#include "PackFiles.h"
#include "SysInfo.h"
#include "TestSupport.h"

using testsupport::ChildResult;

namespace {

tstring javaProgram(const tstring& name) {
    return FileUtils::joinPath(tstrings::fromUtf8(VANTREL_JAVA_PROGRAMS), name);
}

tstring jdkHome() {
    return FileUtils::parentPath(FileUtils::parentPath(PackFiles::normalPath(L"/usr/bin/javac")));
}

class Packing : public ::testing::Test {
protected:
    Packing() {
        testsupport::makeDirectories(input());
        for (const wchar_t* jar : {L"probe.jar", L"helper.jar", L"module.jar"}) {
            PackFiles::copyFile(javaProgram(jar), FileUtils::joinPath(input(), jar));
        }
    }

    tstring input() const { return FileUtils::joinPath(dir.path(), L"in"); }
    tstring dest() const { return FileUtils::joinPath(dir.path(), L"dest"); }
    tstring image(const tstring& name) const { return FileUtils::joinPath(dest(), name); }

    // --input and --dest default to the fixture's.
    ChildResult pack(const tstring& name, const tstring_array& options) const {
        tstring_array args = options;
        for (const auto& option :
             {std::make_pair(L"--input", input()), std::make_pair(L"--dest", dest())}) {
            if (std::find(args.begin(), args.end(), option.first) == args.end()) {
                args.insert(args.end(), {option.first, option.second});
            }
        }
        args.insert(args.end(), {L"--name", name});
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args);
    }

    ChildResult run(const tstring& name, const tstring_array& args,
                    const testsupport::EnvChanges& env = {}) const {
        return testsupport::runChild(FileUtils::joinPath(image(name), name), args, env);
    }

    testsupport::TempDir dir;
};

TEST_F(Packing, AJarWithALinkedRuntimeRuns) {
    const ChildResult packed =
        pack(L"Probe", {L"--main-jar", L"probe.jar", L"--no-provider-modules", L"--java-options",
                        L"-Dvtest.dir=$APPDIR x", L"--java-options", L"-Dvtest.exit=7",
                        L"--arguments", L"default one"});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_EQ(packed.err, "");
    EXPECT_NE(packed.out.find("Linking the runtime with jlink, modules java.base\n"),
              std::string::npos)
        << packed.out;
    EXPECT_NE(packed.out.find("Packed " + tstrings::toUtf8(image(L"Probe")) + " (runtime "),
              std::string::npos);
    EXPECT_LT(PackFiles::treeSize(FileUtils::joinPath(image(L"Probe"), L"runtime")) * 2,
              PackFiles::treeSize(jdkHome()));

    const ChildResult withArgs = run(L"Probe", {L"a", L"b c"});
    EXPECT_EQ(withArgs.exitCode, 7u) << withArgs.err;
    const std::string appDir = tstrings::toUtf8(FileUtils::joinPath(image(L"Probe"), L"app"));
    for (const std::string& line :
         {std::string("argc=2\narg[0]=a\narg[1]=b c\n"), "prop.vtest.dir=" + appDir + " x\n",
          "helper=" + appDir + "/helper.jar\n"}) {
        EXPECT_NE(withArgs.out.find(line), std::string::npos) << line << withArgs.out;
    }
    const ChildResult withDefaults = run(L"Probe", {});
    EXPECT_NE(withDefaults.out.find("argc=1\narg[0]=default one\n"), std::string::npos);
}

TEST_F(Packing, AMainModuleWithAPerUserConfiguration) {
    testsupport::makeDirectories(FileUtils::joinPath(input(), L"mods"));
    std::filesystem::rename(PackFiles::fsPath(FileUtils::joinPath(input(), L"module.jar")),
                            PackFiles::fsPath(FileUtils::joinPath(input(), L"mods/module.jar")));
    const ChildResult packed =
        pack(L"Mod", {L"--module", L"vtest.mod/vtest.mod.ModMain", L"--module-path", L"mods",
                      L"--package", L"vt.pkg", L"--arguments", L"packed", L"--quiet"});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_EQ(packed.out, "");
    EXPECT_EQ(run(L"Mod", {}).out, "module=vtest.mod\nargs=packed\n");

    const tstring config = FileUtils::joinPath(dir.path(), L"config");
    testsupport::makeDirectories(FileUtils::joinPath(config, L"vt.pkg"));
    testsupport::writeFile(
        FileUtils::joinPath(config, L"vt.pkg/Mod.cfg"),
        testsupport::readFile(FileUtils::joinPath(image(L"Mod"), L"app/Mod.cfg")) +
            "\n[ArgOptions]\narguments=per user\n");
    EXPECT_EQ(run(L"Mod", {}, {{L"XDG_CONFIG_HOME", config}}).out,
              "module=vtest.mod\nargs=per user\n");
}

// The README's options, kept in a file with comments and quotes beside one on the command line,
// give the image that the command line gives; an extra launcher starts its own class with the
// image's class path and Java options, and none of the main one's arguments.
TEST_F(Packing, AnOptionFileGivesTheImageOfTheCommandLine) {
    testsupport::makeDirectories(FileUtils::joinPath(input(), L"lib"));
    PackFiles::copyFile(javaProgram(L"hello.jar"), FileUtils::joinPath(input(), L"lib/hello.jar"));
    const tstring_array options = {
        L"--main-jar",     L"probe.jar",        L"--class-path",   L"lib/*",
        L"--java-options", L"-Xmx256m",         L"--java-options", L"-Dgreeting=$APPDIR/a b",
        L"--arguments",    L"default argument", L"--add-launcher", L"Hello Tool:hello.Main",
        L"--add-modules",  L"java.base",        L"--quiet"};
    ASSERT_EQ(pack(L"Line", options).exitCode, 0u);
    const tstring file = FileUtils::joinPath(dir.path(), L"options");
    testsupport::writeFile(file,
                           "# The README's example\n--main-jar probe.jar --class-path 'lib/*'\n"
                           "--java-options -Xmx256m --java-options \"-Dgreeting=$APPDIR/a b\"\n"
                           "--arguments 'default argument' # one\n"
                           "--add-launcher=\"Hello Tool:hello.Main\"\n"
                           "--add-modules java.base --quiet\n");
    const ChildResult packed = pack(L"File", {L"@" + file});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    for (const tstring cfg : {L"app/Hello Tool.cfg", L"app/%.cfg"}) {
        EXPECT_EQ(testsupport::readFile(
                      FileUtils::joinPath(image(L"File"), tstrings::replace(cfg, L"%", L"File"))),
                  testsupport::readFile(
                      FileUtils::joinPath(image(L"Line"), tstrings::replace(cfg, L"%", L"Line"))));
    }
    EXPECT_NE(run(L"File", {}).out.find("argc=1\narg[0]=default argument\n"), std::string::npos);
    const ChildResult extra =
        testsupport::runChild(FileUtils::joinPath(image(L"File"), L"Hello Tool"), {});
    EXPECT_EQ(extra.exitCode, 0u) << extra.err;
    const std::string imageDir = tstrings::toUtf8(image(L"File"));
    for (const std::string& line :
         {"launched by " + imageDir + "/Hello Tool\n", "greeting: " + imageDir + "/app/a b\n"}) {
        EXPECT_NE(extra.out.find(line), std::string::npos) << line << extra.out;
    }
    EXPECT_EQ(extra.out.find("argument:"), std::string::npos) << extra.out;

    const ChildResult missing = pack(L"Missing", {L"@" + file + L"2", L"--main-jar", L"probe.jar"});
    EXPECT_EQ(missing.exitCode, 2u);
    EXPECT_EQ(missing.err,
              "vantrel-pack: the option file " + tstrings::toUtf8(file) + "2 does not exist\n");
}

TEST_F(Packing, FailuresLeaveNothingBehind) {
    testsupport::writeFile(FileUtils::joinPath(input(), L"bad.jar"), "not a jar");
    testsupport::writeFile(FileUtils::joinPath(dir.path(), L"file"), "");
    const std::string in = tstrings::toUtf8(input());
    const std::string launchers = tstrings::toUtf8(FileUtils::joinPath(
        FileUtils::parentPath(testsupport::binaryDir()), L"share/vantrel/launchers"));
    const struct {
        tstring_array options;
        std::string error;
    } cases[] = {
        {{L"--main-jar", L"probe.jar", L"--input", L"missing"},
         "the input directory does not exist: missing"},
        {{L"--main-jar", L"nope.jar"}, "the main jar nope.jar is not in the input " + in},
        {{L"--main-jar", L"module.jar"},
         "the main jar module.jar names no Main-Class: give --main-class"},
        {{L"--main-jar", L"probe.jar", L"--runtime", input()},
         "the runtime " + in + " has no lib/libjli.so for the linux launcher"},
        {{L"--main-jar", L"probe.jar", L"--add-modules", L"java.nope"},
         "jlink failed with exit code 1: Error: Module java.nope not found"},
        {{L"--main-jar", L"bad.jar", L"--main-class", L"a.B"},
         "jdeps failed with exit code 1: Exception in thread \"main\" "
         "java.io.UncheckedIOException: java.util.zip.ZipException: zip END header not found"},
        {{L"--main-jar", L"probe.jar", L"--dest", FileUtils::joinPath(dir.path(), L"file/dest")},
         "cannot create " + tstrings::toUtf8(dir.path()) + "/file/dest: Not a directory"},
        {{L"--main-jar", L"probe.jar", L"--dest", FileUtils::joinPath(input(), L"out")},
         "the destination must not lie inside the input"},
        {{L"--main-jar", L"probe.jar", L"--target", L"windows", L"--launcher", L"/bin/true"},
         "linking a Windows runtime on Linux needs --jmods DIR (the jmods of that platform's "
         "JDK), or give --runtime"},
        {{L"--main-jar", L"probe.jar", L"--target", L"windows", L"--launcher", L"/bin/true",
          L"--app-version", L"1.0"},
         "Cannot stamp \"/bin/true\": not a PE image"},
        {{L"--main-jar", L"probe.jar", L"--target", L"windows-gui"},
         "the windows-gui launcher is not installed: " + launchers +
             "/windows-x86_64/vantrelw.exe is missing (give --launcher FILE)"},
    };
    for (const auto& c : cases) {
        tstring_array options = c.options;
        const ChildResult result = pack(L"App", options);
        EXPECT_EQ(result.exitCode, 1u) << c.error;
        EXPECT_EQ(result.err, "vantrel-pack: " + c.error + "\n");
        EXPECT_FALSE(PackFiles::exists(dest())) << c.error;
    }

    const ChildResult usage = pack(L"App", {L"--main-jar", L"probe.jar", L"--bogus"});
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_EQ(usage.err, "vantrel-pack: unknown option --bogus\nUsage: vantrel-pack --name NAME "
                         "--input DIR --dest DIR [options]\nTry 'vantrel-pack --help' for more "
                         "information.\n");

    // A JDK whose tools interrupt the run as Ctrl-C would.
    const tstring jdk = FileUtils::joinPath(dir.path(), L"jdk");
    testsupport::makeDirectories(FileUtils::joinPath(jdk, L"bin"));
    for (const wchar_t* tool : {L"bin/jdeps", L"bin/jlink"}) {
        const tstring path = FileUtils::joinPath(jdk, tool);
        testsupport::writeFile(path, "#!/bin/sh\nkill -INT $PPID\nsleep 10\n");
        std::filesystem::permissions(PackFiles::fsPath(path), std::filesystem::perms::owner_all);
    }
    const ChildResult interrupted =
        pack(L"App", {L"--main-jar", L"probe.jar", L"--jlink-from", jdk});
    EXPECT_EQ(interrupted.err, "vantrel-pack: interrupted\n");
    EXPECT_FALSE(PackFiles::exists(dest()));

    // Links in the input are followed, but not round in a circle nor out of the input.
    const std::filesystem::path loop = PackFiles::fsPath(input()) / "loop";
    std::filesystem::create_directory_symlink(".", loop);
    const ChildResult looping =
        pack(L"App", {L"--main-jar", L"probe.jar", L"--add-modules", L"java.base"});
    EXPECT_EQ(looping.err, "vantrel-pack: cannot copy " + in +
                               "/loop: it links back to a directory that holds it\n");
    std::filesystem::remove(loop);
    std::filesystem::create_directory_symlink("..", loop);
    const ChildResult leaving =
        pack(L"App", {L"--main-jar", L"probe.jar", L"--add-modules", L"java.base"});
    EXPECT_EQ(leaving.err, "vantrel-pack: the symbolic link " + in + "/loop leads out of " + in +
                               ", to " + tstrings::toUtf8(dir.path()) + "\n");
    EXPECT_FALSE(PackFiles::exists(dest()));

    testsupport::makeDirectories(image(L"App"));
    testsupport::writeFile(FileUtils::joinPath(image(L"App"), L"mine"), "kept");
    const ChildResult existing = pack(L"App", {L"--main-jar", L"probe.jar"});
    EXPECT_EQ(existing.err,
              "vantrel-pack: " + tstrings::toUtf8(image(L"App")) + " already exists\n");
    EXPECT_EQ(testsupport::readFile(FileUtils::joinPath(image(L"App"), L"mine")), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(PackFiles::fsPath(dest())),
                            std::filesystem::directory_iterator()),
              1);
}

} // namespace
