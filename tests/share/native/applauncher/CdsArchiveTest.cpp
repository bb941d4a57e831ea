#include "CdsArchive.h"

#include <algorithm>
#include <functional>
#include <regex>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "FileUtils.h"
#include "TestSupport.h"
#include "UserCache.h"

namespace {

using FileUtils::joinPath;

const tstring quiet = L"-Xlog:cds*=off";

// A runtime folder with a release file and a base archive beside its JVM library, an
// application JAR and a cache base, all in a temporary folder.
class CdsArchiveTest : public ::testing::Test {
protected:
    CdsArchiveTest() {
        setup.cacheBase = joinPath(temp.path(), L"cache");
        setup.packageName = L"pkg";
        setup.appName = L"App";
        setup.launcherPath = joinPath(temp.path(), L"App");
        setup.runtimeDir = joinPath(temp.path(), L"runtime");
        setup.jvmLibPath = joinPath(setup.runtimeDir, L"server/jvm");
        setup.processId = 4242;
        setup.now = UserCache::now();
        testsupport::makeDirectories(joinPath(setup.runtimeDir, L"server"));
        testsupport::writeFile(joinPath(setup.runtimeDir, L"server/classes.jsa"), "base");
        testsupport::writeFile(jar(), "jar v1");
        release("JAVA_VERSION=\"17.0.15\"\n");
    }

    tstring jar() const { return joinPath(temp.path(), L"app.jar"); }
    tstring cacheDir() const {
        return FileUtils::PathBuilder() << setup.cacheBase << L"pkg" << L"cds";
    }
    void release(const std::string& text) {
        testsupport::writeFile(joinPath(setup.runtimeDir, L"release"), text);
    }

    CdsArchive::Plan plan(const std::string& cfgText = "app.cds=auto\n",
                          const std::string& javaOption = "-Dx") {
        const tstring path = joinPath(temp.path(), L"app.cfg");
        testsupport::writeFile(path, "[Application]\n" + cfgText +
                                         "app.classpath=" + tstrings::toUtf8(jar()) +
                                         "\n[JavaOptions]\njava-options=" + javaOption +
                                         "\n[AppCDSJavaOptions]\njava-options=-Duse\n"
                                         "[AppCDSGenerateCacheJavaOptions]\njava-options=-Dmake\n");
        log.clear();
        const CdsArchive::Plan result = CdsArchive::plan(CfgFile::load(path), setup);
        const bool traced = cfgText.find("app.cds=") != std::string::npos;
        EXPECT_EQ(traced ? 1u : 0u, log.messages(L"TRACE", L"Class-data archive: ").size() +
                                        log.messages(L"TRACE", L"AOT cache: ").size());
        return result;
    }

    // The names of the given files, or of those in the cache directory, sorted.
    tstring_array cacheFiles(const tstring_array& paths = {}) const {
        tstring_array names;
        for (const tstring& path : paths) {
            names.push_back(FileUtils::lastComponent(path));
        }
        if (paths.empty()) {
            names = UserCache::listDirectory(cacheDir());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The runtime's part: it writes the archive (or nothing) before the process ends.
    void runtimeExits(const CdsArchive::Plan& made, const std::string& archive) {
        testsupport::writeFile(made.written, archive);
        CdsArchive::finish(made);
    }

    testsupport::LogRecorder log;
    testsupport::TempDir temp;
    CdsArchive::Setup setup;
};

TEST_F(CdsArchiveTest, OptionsOfAFirstStartForEachJavaVersion) {
    const std::pair<const char*, const char*> cases[] = {
        {"A=1\r\nJAVA_VERSION=\"1.8.0_292\"\r\n", nullptr},
        {"JAVA_VERSION=\"12.0.2\"", nullptr},
        {"IMPLEMENTOR=x", nullptr},
        {"JAVA_VERSION=\"x17\"", nullptr},
        {"JAVA_VERSION=\"13\"", "App-[0-9a-f]{16}\\.4242\\.tmp"},
        {"JAVA_VERSION=\"18.0.1\"", "App-[0-9a-f]{16}\\.4242\\.tmp"},
        {"JAVA_VERSION=21-ea", "App-[0-9a-f]{16}\\.4242\\.tmp"},
        {"JAVA_VERSION=\"24\"", "App-[0-9a-f]{16}\\.4242\\.conftmp"},
        {"JAVA_VERSION=\"25.0.1\"", "App-[0-9a-f]{16}\\.4242\\.conftmp"}};
    for (const auto& item : cases) {
        release(item.first);
        const CdsArchive::Plan made = plan();
        if (!item.second) {
            EXPECT_EQ(tstring_array(), made.options) << item.first;
            EXPECT_EQ(L"", made.written) << item.first;
            continue;
        }
        EXPECT_EQ(cacheDir(), FileUtils::parentPath(made.written));
        EXPECT_TRUE(std::regex_match(tstrings::toUtf8(FileUtils::lastComponent(made.written)),
                                     std::regex(item.second)))
            << item.first;
        tstring_array expected{quiet, L"-XX:ArchiveClassesAtExit=" + made.written, L"-Dmake"};
        if (tstrings::endsWith(made.written, L".conftmp")) {
            expected = {quiet, L"-XX:+DisplayVMOutputToStderr", L"-XX:AOTMode=record",
                        L"-XX:AOTConfiguration=" + made.written, L"-Dmake"};
        }
        if (std::string(item.first).find("25") != std::string::npos) {
            expected.insert(expected.begin() + 1, L"-Xlog:aot*=off");
        }
        EXPECT_EQ(expected, made.options) << item.first;
    }
}

TEST_F(CdsArchiveTest, OneStartPerKeyMakesAnArchiveAndOnlyFilesThatNoStartCanUseAreRemoved) {
    release("JAVA_VERSION=21");
    // Concurrent first starts: only one makes the archive.
    const CdsArchive::Plan killed = plan();
    testsupport::writeFile(killed.written, "partial");
    setup.processId = 4343;
    EXPECT_EQ(tstring_array(), plan().options);
    // Killed while the runtime wrote: its file goes after a while, and the key is not tried
    // again.
    setup.now += 3600ll * 1000000000;
    EXPECT_EQ(tstring_array(), plan().options);
    EXPECT_EQ(cacheFiles({killed.publishStem + L".tried"}), cacheFiles());

    // A changed JAR: a new archive, the old key's files go, another application's stay.
    const tstring foreign = joinPath(cacheDir(), L"Other-0123456789abcdef.5.jsa");
    testsupport::writeFile(foreign, "other");
    testsupport::writeFile(jar(), "jar v2, longer"); // file times may not change within a tick
    const CdsArchive::Plan made = plan();
    EXPECT_NE(killed.publishStem, made.publishStem);
    runtimeExits(made, "whole");
    EXPECT_EQ(cacheFiles({foreign, made.publishStem + L".5.jsa"}), cacheFiles());
}

TEST_F(CdsArchiveTest, RuntimeThatWroteNothingStopsFurtherAttempts) {
    runtimeExits(plan(), "");
    EXPECT_TRUE(plan().options.empty());
    release("JAVA_VERSION=\"19\"");
    const CdsArchive::Plan made = plan();
    runtimeExits(made, "archive");
    EXPECT_EQ(L"-Duse", plan().options.back());
}

// Recorded by a first start, created once by a background process that never runs the
// application, used by every start after that.
TEST_F(CdsArchiveTest, AotCacheIsRecordedCreatedOnceAndUsed) {
    release("JAVA_VERSION=\"25\"");
    const CdsArchive::Plan recorded = plan();
    runtimeExits(recorded, "configuration");
    EXPECT_TRUE(tstrings::endsWith(recorded.configuration, L".aotconf"));
    EXPECT_TRUE(FileUtils::pathExists(recorded.configuration));
    EXPECT_TRUE(plan().options.empty()); // the creation runs out of the way

    setup.aotCreation = true;
    const CdsArchive::Plan created = plan();
    ASSERT_TRUE(created.creation);
    const tstring_array createOptions{quiet,
                                      L"-Xlog:aot*=off",
                                      L"-XX:AOTMode=create",
                                      L"-XX:AOTConfiguration=" + recorded.configuration,
                                      L"-XX:AOTCache=" + created.written,
                                      L"-Dmake"};
    EXPECT_EQ(createOptions, created.options);
    EXPECT_FALSE(plan().creation); // never twice for one key
    runtimeExits(created, "cache");
    EXPECT_FALSE(plan().creation);

    setup.aotCreation = false;
    const tstring cache = created.publishStem + L".5.aot";
    EXPECT_EQ((tstring_array{quiet, L"-Xlog:aot*=off", L"-XX:AOTCache=" + cache, L"-Duse"}),
              plan().options);
}

// The runtime loads its base archive, made with or without compressed oops, or a new archive
// ends the start: made only where the base archives that the options may need are there.
TEST_F(CdsArchiveTest, ArchiveOnlyWhereTheRuntimeSurelyLoadsItsBaseArchive) {
    const tstring serverDir = joinPath(setup.runtimeDir, L"server");
    const struct {
        const char* option;
        bool withoutCoops; // the runtime has classes_nocoops.jsa
        bool makes;
    } cases[] = {{"-Xmx30g", false, true},
                 {"-Xmx31g", false, false},
                 {"-Xmx31g", true, true},
                 {"-Xmx40G", false, false},
                 {"-Xms33554432k", false, false},
                 {"-XX:MaxHeapSize=40000000000", false, false},
                 {"-XX:MaxHeapSize=1t", true, true},
                 {"-XX:+UseZGC", false, false},
                 {"-XX:MaxRAMPercentage=90", false, false},
                 {"-XX:-UseCompressedOops", true, true},
                 {"-XX:ObjectAlignmentInBytes=16", true, false},
                 {"-XX:VMOptionsFile=opts", true, false},
                 {"-Xmx99999999999999999999", false, false}};
    for (const auto& item : cases) {
        UserCache::removeFile(joinPath(serverDir, L"classes_nocoops.jsa"));
        if (item.withoutCoops) {
            testsupport::writeFile(joinPath(serverDir, L"classes_nocoops.jsa"), "base");
        }
        if (std::string(item.option) == "-XX:-UseCompressedOops") {
            UserCache::removeFile(joinPath(serverDir, L"classes.jsa"));
        }
        EXPECT_EQ(item.makes, !plan("app.cds=auto\n", item.option).written.empty()) << item.option;
        testsupport::writeFile(joinPath(serverDir, L"classes.jsa"), "base");
    }
}

TEST_F(CdsArchiveTest, NoArchiveAndNothingWrittenWhenItCannotBeSafe) {
    const tstring baseArchive = joinPath(setup.runtimeDir, L"server/classes.jsa");
    const CdsArchive::Setup original = setup;
    const tstring classes = joinPath(temp.path(), L"classes");
    testsupport::makeDirectories(joinPath(classes, L"p"));
    const struct {
        std::string cfg;
        const char* javaOption;
        std::function<void()> prepare;
    } cases[] = {
        {"", "-Dx", [] {}},
        {"app.cds=on\n", "-Dx", [] {}},
        {"app.cds=auto\n", "-Xshare:off", [] {}},
        {"app.cds=auto\n", "-XX:AOTCache=a.aot", [] {}},
        {"app.cds=auto\n", "-Dx", [this] { setup.envOptions = L"-Dy -XX:SharedArchiveFile=a"; }},
        {"app.cds=auto\n", "-Dx", [&] { UserCache::removeFile(baseArchive); }},
        {"app.cds=auto\n", "-Dx", [this] { setup.packageName = L".."; }},
        {"app.cds=auto\n", "-Dx", [this] { setup.cacheBase.clear(); }},
        {"app.cds=auto\n", "-Dx", [this] { testsupport::writeFile(setup.cacheBase, "a file"); }},
        {"app.cds=auto\napp.classpath=" + tstrings::toUtf8(classes) + "\n", "-Dx", [] {}},
        {"app.cds=auto\napp.modulepath=" + tstrings::toUtf8(temp.path()) + "\n", "-Dx", [] {}}};
    for (const auto& item : cases) {
        setup = original;
        testsupport::writeFile(baseArchive, "base");
        item.prepare();
        const CdsArchive::Plan none = plan(item.cfg, item.javaOption);
        EXPECT_TRUE(none.options.empty()) << item.cfg << item.javaOption;
        EXPECT_TRUE(none.written.empty()) << item.cfg;
        EXPECT_FALSE(FileUtils::pathExists(joinPath(temp.path(), L"cache/pkg"))) << item.cfg;
    }
}

} // namespace
