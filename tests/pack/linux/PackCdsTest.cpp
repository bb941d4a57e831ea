// The start-up archive of packed images: on by default, the runtime with the base archive its
// first start maps, and off with --no-cds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "FileUtils.h"
#include "PackFiles.h"
#include "TestRuntime.h"
#include "TestSupport.h"

using testsupport::ChildResult;

namespace {

tstring buildDir() {
    return FileUtils::parentPath(tstrings::fromUtf8(VANTREL_JAVA_PROGRAMS));
}

class PackingWithCds : public ::testing::Test {
protected:
    PackingWithCds() {
        testsupport::makeDirectories(input());
        PackFiles::copyFile(
            FileUtils::joinPath(tstrings::fromUtf8(VANTREL_JAVA_PROGRAMS), L"cdsv1.jar"),
            FileUtils::joinPath(input(), L"app.jar"));
    }

    tstring input() const { return FileUtils::joinPath(dir.path(), L"in"); }
    tstring image(const tstring& dest) const {
        return FileUtils::PathBuilder() << dir.path() << dest << L"App";
    }
    tstring cache(const tstring& dest) const {
        return FileUtils::PathBuilder() << dir.path() << dest << L"cache";
    }

    ChildResult pack(const tstring_array& more, const tstring& dest = L"dest") const {
        tstring_array args{
            L"--name",       L"App",
            L"--input",      input(),
            L"--dest",       dest[0] == L'/' ? dest : FileUtils::joinPath(dir.path(), dest),
            L"--main-jar",   L"app.jar",
            L"--main-class", L"cds.Main",
            L"--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args);
    }

    ChildResult run(const tstring& dest) const {
        return testsupport::runChild(FileUtils::joinPath(image(dest), L"App"), {L"9"},
                                     {{L"XDG_CACHE_HOME", cache(dest)},
                                      {L"VANTREL_DEBUG", L"true"},
                                      {L"JAVA_TOOL_OPTIONS", std::nullopt},
                                      {L"_JAVA_OPTIONS", std::nullopt}});
    }

    testsupport::TempDir dir;
};

// Linked, or a copied runtime given its base archive by its own java: the first start maps the
// base archive and records, a later one maps the application's archive.
TEST_F(PackingWithCds, ThePackedApplicationUsesAnArchiveFromItsSecondStart) {
    const tstring_array runtimes[] = {
        {}, {L"--runtime", FileUtils::joinPath(buildDir(), L"jlinkruntime")}};
    for (const tstring_array& runtime : runtimes) {
        const tstring dest = runtime.empty() ? L"linked" : L"copied";
        SCOPED_TRACE(tstrings::toUtf8(dest));
        const ChildResult packed = pack(runtime, dest);
        ASSERT_EQ(0u, packed.exitCode) << packed.err;
        EXPECT_EQ("", packed.err);
        const tstring serverDir = FileUtils::PathBuilder() << image(dest) << L"runtime/lib/server";
        EXPECT_TRUE(PackFiles::isFile(FileUtils::joinPath(serverDir, L"classes.jsa")));
        EXPECT_FALSE(PackFiles::isFile(FileUtils::joinPath(serverDir, L"classes_nocoops.jsa")));
        ChildResult result = run(dest);
        EXPECT_EQ(9u, result.exitCode) << result.err;
        EXPECT_EQ("version 1\n", result.out);
        EXPECT_NE(std::string::npos, result.err.find("Class-data archive: record ")) << result.err;
        for (int wait = 0; wait < 600; ++wait) {
            result = run(dest);
            if (result.err.find("Class-data archive: use ") != std::string::npos) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(9u, result.exitCode) << result.err;
        EXPECT_EQ("version 1\n", result.out);
        EXPECT_NE(std::string::npos, result.err.find("Class-data archive: use ")) << result.err;
    }
}

// A Debian 11 root (glibc 2.31) with its own JDK 17, made by scripts/test-roots.sh.
tstring bullseyeRoot() {
    const char* const cache = std::getenv("VANTREL_TEST_CACHE");
    return FileUtils::joinPath(tstrings::fromUtf8(cache ? cache : "/var/cache/vantrel-test"),
                               L"bullseye");
}

// An image with the older system's own runtime, run there under chroot: the argument's exit
// code, the output and the archive from the second start on, as here.
TEST_F(PackingWithCds, OnAnOlderDistributionTheImageBehavesAsHere) {
    const tstring root = bullseyeRoot();
    const tstring jdk = root + L"/usr/lib/jvm/java-17-openjdk-amd64";
    if (!PackFiles::isFile(jdk + L"/release")) {
        GTEST_SKIP() << "no Debian 11 root at " << tstrings::toUtf8(root)
                     << ": run scripts/test-roots.sh";
    }
    // Inside the root, under a name of this process's own.
    const tstring inside = L"/tmp/vantrel-test-" + tstrings::fromUtf8(std::to_string(getpid()));
    const struct Removal {
        tstring dir;
        ~Removal() { std::filesystem::remove_all(PackFiles::fsPath(dir)); }
    } removal{root + inside};
    const ChildResult packed = pack({L"--runtime", jdk}, removal.dir);
    ASSERT_EQ(0u, packed.exitCode) << packed.err;
    // A mount namespace of its own gives the root /proc for the launcher; it goes with it.
    const auto runThere = [&] {
        return testsupport::runChild(
            L"/usr/bin/unshare",
            {L"--mount", L"sh", L"-c",
             L"mount -t proc proc \"$0/proc\" && exec chroot \"$0\" \"$@\"", root,
             inside + L"/App/App", L"9"},
            {{L"XDG_CACHE_HOME", inside + L"/cache"},
             {L"VANTREL_DEBUG", L"true"},
             {L"JAVA_TOOL_OPTIONS", std::nullopt},
             {L"_JAVA_OPTIONS", std::nullopt}});
    };
    ChildResult result = runThere();
    EXPECT_EQ(9u, result.exitCode) << result.err;
    EXPECT_EQ("version 1\n", result.out);
    EXPECT_NE(std::string::npos, result.err.find("Class-data archive: record ")) << result.err;
    for (int wait = 0;
         wait < 600 && result.err.find("Class-data archive: use ") == std::string::npos; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        result = runThere();
    }
    EXPECT_EQ(9u, result.exitCode) << result.err;
    EXPECT_EQ("version 1\n", result.out);
    EXPECT_NE(std::string::npos, result.err.find("Class-data archive: use ")) << result.err;
    // A failure is thrown and reported there too: the unwinder finds its tables without
    // _dl_find_object, which glibc 2.35 brought.
    std::filesystem::rename(PackFiles::fsPath(removal.dir + L"/App/app/App.cfg"),
                            PackFiles::fsPath(removal.dir + L"/App/app/Moved.cfg"));
    result = runThere();
    EXPECT_EQ(1u, result.exitCode) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("App.cfg\" file: No such file or directory"))
        << result.err;
}

TEST_F(PackingWithCds, NoCdsWritesNoArchiveSettingAndNothingToTheCache) {
    const ChildResult packed = pack({L"--no-cds"});
    ASSERT_EQ(0u, packed.exitCode) << packed.err;
    const std::string cfg =
        testsupport::readFile(FileUtils::PathBuilder() << image(L"dest") << L"app/App.cfg");
    EXPECT_EQ(std::string::npos, cfg.find("app.cds")) << cfg;
    const ChildResult result = run(L"dest");
    EXPECT_EQ(9u, result.exitCode) << result.err;
    EXPECT_EQ("version 1\n", result.out);
    EXPECT_EQ(std::string::npos, result.err.find("Class-data archive")) << result.err;
    EXPECT_FALSE(FileUtils::pathExists(cache(L"dest")));
}

// Asked for by name, the archive that can't be is named in one line; by default nothing is said.
TEST_F(PackingWithCds, ARuntimeThatCannotHaveAnArchiveIsNamedInOneLineWhenAskedFor) {
    const tstring runtime = FileUtils::joinPath(dir.path(), L"old");
    testruntime::install(runtime); // no release file: no Java version to build on
    ChildResult packed = pack({L"--runtime", runtime, L"--cds"});
    EXPECT_EQ(0u, packed.exitCode) << packed.err;
    EXPECT_EQ("vantrel-pack: warning: --cds does nothing: the runtime is not Java 11 or later\n",
              packed.err);
    packed = pack({L"--runtime", runtime}, L"quiet");
    EXPECT_EQ(0u, packed.exitCode) << packed.err;
    EXPECT_EQ("", packed.err);
}

} // namespace
