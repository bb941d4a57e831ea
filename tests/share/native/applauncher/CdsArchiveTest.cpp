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
        EXPECT_EQ(traced ? 1u : 0u, log.messages(L"TRACE", L"Class-data archive: ").size());
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
        {"JAVA_VERSION=21-ea", "App-[0-9a-f]{16}\\.jsa"}};
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
        const tstring_array expected =
            tstrings::endsWith(made.written, L".tmp")
                ? tstring_array{quiet, L"-XX:ArchiveClassesAtExit=" + made.written, L"-Dmake"}
                : tstring_array{quiet, L"-XX:+AutoCreateSharedArchive",
                                L"-XX:SharedArchiveFile=" + made.written, L"-Dmake"};
        EXPECT_EQ(expected, made.options) << item.first;
    }
}

TEST_F(CdsArchiveTest, OnlyFilesThatNoStartCanUseAreRemoved) {
    // Killed while the runtime wrote: kept while another start could still be writing.
    const CdsArchive::Plan killed = plan();
    testsupport::writeFile(killed.written, "partial");
    setup.processId = 4343;
    const CdsArchive::Plan concurrent = plan();
    testsupport::writeFile(concurrent.written, "partial");
    EXPECT_EQ(cacheFiles({killed.written, concurrent.written}), cacheFiles());
    setup.now += 3600ll * 1000000000;
    runtimeExits(plan(), "whole");
    EXPECT_EQ(cacheFiles({concurrent.publishStem + L".5.jsa"}), cacheFiles());

    // A changed JAR: a new archive, the old one goes, another application's stay.
    const tstring foreign = joinPath(cacheDir(), L"Other-0123456789abcdef.5.jsa");
    testsupport::writeFile(foreign, "other");
    testsupport::writeFile(jar(), "jar v2, longer"); // file times may not change within a tick
    EXPECT_NE(concurrent.publishStem, plan().publishStem);
    EXPECT_EQ(cacheFiles({foreign}), cacheFiles());
}

TEST_F(CdsArchiveTest, RuntimeThatWroteNothingStopsFurtherAttempts) {
    runtimeExits(plan(), "");
    EXPECT_TRUE(plan().options.empty());
    release("JAVA_VERSION=\"19\"");
    const CdsArchive::Plan made = plan();
    runtimeExits(made, "archive");
    EXPECT_EQ(L"-Duse", plan().options.back());
}

TEST_F(CdsArchiveTest, NoArchiveAndNothingWrittenWhenItCannotBeSafe) {
    const tstring baseArchive = joinPath(setup.runtimeDir, L"server/classes.jsa");
    const CdsArchive::Setup original = setup;
    const struct {
        const char* cfg;
        const char* javaOption;
        std::function<void()> prepare;
    } cases[] = {
        {"", "-Dx", [] {}},
        {"app.cds=on\n", "-Dx", [] {}},
        {"app.cds=auto\n", "-Xshare:off", [] {}},
        {"app.cds=auto\n", "-Dx", [this] { setup.envOptions = L"-Dy -XX:SharedArchiveFile=a"; }},
        {"app.cds=auto\n", "-Dx", [&] { UserCache::removeFile(baseArchive); }},
        {"app.cds=auto\n", "-Dx", [this] { setup.packageName = L".."; }},
        {"app.cds=auto\n", "-Dx", [this] { setup.cacheBase.clear(); }},
        {"app.cds=auto\n", "-Dx", [this] { testsupport::writeFile(setup.cacheBase, "a file"); }}};
    for (const auto& item : cases) {
        setup = original;
        testsupport::writeFile(baseArchive, "base");
        item.prepare();
        const CdsArchive::Plan none = plan(item.cfg, item.javaOption);
        EXPECT_TRUE(none.options.empty()) << item.cfg;
        EXPECT_TRUE(none.written.empty()) << item.cfg;
        EXPECT_FALSE(FileUtils::pathExists(joinPath(temp.path(), L"cache/pkg"))) << item.cfg;
    }
}

} // namespace
