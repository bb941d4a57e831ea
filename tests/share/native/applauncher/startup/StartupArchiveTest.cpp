#include "StartupArchive.h"

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
const std::string wholeArchive = std::string("\xa2\xab\x0b\xf0", 4) + "archive";
const std::int64_t day = 24ll * 3600 * 1000000000;

// A runtime folder with a release file, an application JAR and a cache base, all in a
// temporary folder. Dropping a plan without finishing it is a process that was killed: its
// lock goes, what its runtime wrote stays.
class StartupArchiveTest : public ::testing::Test {
protected:
    StartupArchiveTest() {
        setup.cacheBase = joinPath(temp.path(), L"cache");
        setup.packageName = L"pkg";
        setup.appName = L"App";
        setup.launcherPath = testsupport::fixturePath(L"argdump"); // runs and ends at once
        setup.runtimeDir = joinPath(temp.path(), L"runtime");
        setup.jvmLibPath = joinPath(setup.runtimeDir, L"server/jvm");
        setup.processId = 4242;
        setup.now = UserCache::now();
        testsupport::makeDirectories(joinPath(setup.runtimeDir, L"server"));
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

    StartupArchive::Plan plan(const std::string& cfgText = "app.cds=auto\n",
                              const std::string& javaOptions = "java-options=-Dx\n") {
        const tstring path = joinPath(temp.path(), L"app.cfg");
        testsupport::writeFile(path, "[Application]\n" + cfgText +
                                         "app.classpath=" + tstrings::toUtf8(jar()) +
                                         "\n[JavaOptions]\n" + javaOptions +
                                         "[AppCDSJavaOptions]\njava-options=-Duse\n"
                                         "[AppCDSGenerateCacheJavaOptions]\njava-options=-Dmake\n");
        log.clear();
        StartupArchive::Plan result = StartupArchive::plan(CfgFile::load(path), setup);
        const bool traced = cfgText.find("app.cds=") != std::string::npos;
        EXPECT_EQ(traced ? 1u : 0u, log.messages(L"TRACE", L"Class-data archive: ").size());
        ++setup.processId;
        return result;
    }

    // The one decision of the last plan, without the prefix.
    std::string decision() const {
        const tstring_array lines = log.messages(L"TRACE", L"Class-data archive: ");
        return lines.empty() ? std::string() : tstrings::toUtf8(lines.back().substr(20));
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

    static tstring stemOf(const StartupArchive::Plan& made) {
        return joinPath(made.dir, made.appName + L"-" + made.key);
    }

    std::size_t count(const wchar_t* suffix) const {
        const tstring_array names = cacheFiles();
        return static_cast<std::size_t>(
            std::count_if(names.begin(), names.end(), [suffix](const tstring& name) {
                return tstrings::endsWith(name, suffix);
            }));
    }

    // A first start that records and ends normally, then the creation that follows it.
    StartupArchive::Plan recordAndCreate(const std::string& archive = wholeArchive) {
        StartupArchive::Plan recorded = plan();
        testsupport::writeFile(recorded.recording, "java/lang/Object id: 0\nApp\n");
        StartupArchive::finish(recorded);
        recorded = StartupArchive::Plan();
        setup.creation = true;
        StartupArchive::Plan created = plan();
        setup.creation = false;
        testsupport::writeFile(created.written, archive);
        StartupArchive::finish(created);
        return created;
    }

    testsupport::LogRecorder log;
    testsupport::TempDir temp;
    StartupArchive::Setup setup;
};

TEST_F(StartupArchiveTest, EachStepForEachJavaVersion) {
    const struct {
        const char* release;
        std::vector<tstring> more; // the quiet options beyond quiet, then what a creation adds
    } cases[] = {{"A=1\r\nJAVA_VERSION=\"1.8.0_292\"\r\n", {}},
                 {"JAVA_VERSION=\"10.0.2\"", {}},
                 {"IMPLEMENTOR=x", {}},
                 {"JAVA_VERSION=\"x17\"", {}},
                 {"JAVA_VERSION=\"11\"", {L"", L""}},
                 {"JAVA_VERSION=21-ea", {L"", L""}},
                 {"JAVA_VERSION=\"24\"", {L"", L"-XX:+AOTClassLinking"}},
                 {"JAVA_VERSION=\"25.0.1\"", {L"-Xlog:aot*=off", L"-XX:+AOTClassLinking"}}};
    for (const auto& item : cases) {
        SCOPED_TRACE(item.release);
        release(item.release);
        setup.cacheBase = joinPath(temp.path(), L"cache" + std::to_wstring(&item - cases));
        StartupArchive::Plan recorded = plan();
        if (item.more.empty()) {
            EXPECT_EQ(tstring_array(), recorded.options);
            EXPECT_EQ(L"", recorded.recording);
            continue;
        }
        tstring_array quietOptions{quiet};
        if (!item.more[0].empty()) {
            quietOptions.push_back(item.more[0]);
        }
        EXPECT_TRUE(std::regex_match(tstrings::toUtf8(FileUtils::lastComponent(recorded.recording)),
                                     std::regex("App-[0-9a-f]{16}\\.[0-9]+\\.classlist")));
        tstring_array expected = quietOptions;
        expected.push_back(L"-XX:DumpLoadedClassList=" + recorded.recording);
        EXPECT_EQ(expected, recorded.options);

        testsupport::writeFile(recorded.recording, "java/lang/Object id: 0\n");
        StartupArchive::finish(recorded);
        const tstring stem = stemOf(recorded);
        const tstring classList = stem + L".classlist";
        EXPECT_EQ("java/lang/Object id: 0\n", testsupport::readFile(classList));
        recorded = StartupArchive::Plan();
        EXPECT_TRUE(plan().options.empty());
        EXPECT_EQ("none, making it in the background from " + tstrings::toUtf8(classList),
                  decision());

        setup.creation = true;
        StartupArchive::Plan created = plan();
        setup.creation = false;
        ASSERT_TRUE(created.creation);
        expected = quietOptions;
        expected.insert(expected.end(), {L"-Xshare:dump", L"-XX:SharedClassListFile=" + classList,
                                         L"-XX:SharedArchiveFile=" + created.written});
        if (!item.more[1].empty()) {
            expected.push_back(item.more[1]);
        }
        expected.insert(expected.end(), {L"-Dx", L"-Duse", L"-Dmake", L"-classpath", jar()});
        EXPECT_EQ(expected, created.options);
        testsupport::writeFile(created.written, wholeArchive);
        StartupArchive::finish(created);
        created = StartupArchive::Plan();

        const tstring archive = stem + L".11.jsa";
        EXPECT_EQ(cacheFiles({archive, stem + L".lock"}), cacheFiles());
        expected = quietOptions;
        expected.insert(expected.end(), {L"-XX:SharedArchiveFile=" + archive, L"-Duse"});
        EXPECT_EQ(expected, plan().options);
    }
}

// However a recording start or a creation ends, what it left is finished by the next start
// that can: no key loses its archive to a killed process, and a runtime that fails every time
// costs three tries of each kind.
TEST_F(StartupArchiveTest, EndedProcessesAndConcurrentStarts) {
    StartupArchive::Plan live = plan();
    EXPECT_TRUE(plan().options.empty()); // concurrent: only one records
    EXPECT_EQ(0u, decision().find("none, another start records or makes it ("));
    // Killed while it wrote half a line: the whole lines are taken.
    testsupport::writeFile(live.recording, "java/lang/Object id: 0\nApp id: 1\nHal");
    live.lock = UserCache::FileLock();
    EXPECT_TRUE(plan().options.empty());
    EXPECT_EQ(0u, decision().find("none, making it in the background from "));
    EXPECT_EQ("java/lang/Object id: 0\nApp id: 1\n",
              testsupport::readFile(stemOf(live) + L".classlist"));

    // Creations killed: a whole archive is adopted, a cut one is made again, three times.
    setup.creation = true;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        StartupArchive::Plan created = plan();
        ASSERT_TRUE(created.creation);
        testsupport::writeFile(created.written, "cut");
    }
    EXPECT_FALSE(plan().creation);
    setup.creation = false;
    EXPECT_TRUE(plan().options.empty());
    EXPECT_EQ(0u, decision().find("none, made from ")) << decision();

    // A new jar: a new key. Killed at once, three times, then no more recording.
    testsupport::writeFile(jar(), "jar v2, longer");
    for (int attempt = 1; attempt <= 3; ++attempt) {
        EXPECT_FALSE(plan().recording.empty());
    }
    EXPECT_TRUE(plan().options.empty());
    EXPECT_EQ(0u, decision().find("none, 3 starts recorded no class list for ")) << decision();

    // A third jar, whose creation is killed once it has written the whole archive.
    testsupport::writeFile(jar(), "jar v3, longer still");
    StartupArchive::Plan recorded = plan();
    testsupport::writeFile(recorded.recording, "App\n");
    recorded = StartupArchive::Plan();
    plan();
    setup.creation = true;
    StartupArchive::Plan created = plan();
    setup.creation = false;
    testsupport::writeFile(created.written, wholeArchive);
    const tstring stem = stemOf(created);
    created = StartupArchive::Plan();
    EXPECT_EQ(L"-XX:SharedArchiveFile=" + stem + L".11.jsa", plan().options.at(1));
    EXPECT_EQ(1u, log.messages(L"TRACE", L"Adopted class-data archive ").size());
}

// Each of these selects an archive of its own, and they live side by side: two copies of an
// application, or a variable that changes between starts, don't replace each other's.
TEST_F(StartupArchiveTest, WhatSelectsAnArchiveAndHowLongItStays) {
    const tstring bootJar = joinPath(temp.path(), L"boot.jar");
    testsupport::writeFile(bootJar, "boot v1");
    const std::string bootOption =
        "java-options=-Xbootclasspath/a:" + tstrings::toUtf8(bootJar) + "\n";
    const struct {
        const char* change;
        std::function<void()> apply;
        bool newKey;
    } cases[] = {{"nothing", [] {}, false},
                 {"the runtime", [this] { release("JAVA_VERSION=\"17.0.16\"\n"); }, true},
                 {"an option variable", [this] { setup.envOptions = L"-Xmx1g "; }, true},
                 {"back to the first",
                  [this] {
                      setup.envOptions.clear();
                      release("JAVA_VERSION=\"17.0.15\"\n");
                  },
                  false},
                 {"the jar", [this] { testsupport::writeFile(jar(), "jar v2, longer"); }, true},
                 {"the boot class path's jar",
                  [&] { testsupport::writeFile(bootJar, "boot v2, longer"); }, true}};
    StartupArchive::Plan first = plan("app.cds=auto\n", bootOption);
    testsupport::writeFile(first.recording, "App\n");
    StartupArchive::finish(first);
    first = StartupArchive::Plan();
    for (const auto& item : cases) {
        SCOPED_TRACE(item.change);
        item.apply();
        StartupArchive::Plan probe = plan("app.cds=auto\n", bootOption);
        const bool known = probe.recording.empty();
        if (!known) {
            // The stem of a new key, made whole.
            testsupport::writeFile(probe.recording, "App\n");
            StartupArchive::finish(probe);
        }
        EXPECT_EQ(item.newKey, !known);
    }
    // Every key's class list stays while it is used, and an unused one goes after a month.
    EXPECT_EQ(5u, count(L".classlist"));
    setup.now += 31 * day;
    plan("app.cds=auto\n", bootOption);
    EXPECT_EQ(1u, count(L".classlist"));
    EXPECT_EQ(1u, count(L".lock"));
}

TEST_F(StartupArchiveTest, NoArchiveAndNothingWrittenWhenItCannotBeSafe) {
    const StartupArchive::Setup original = setup;
    const tstring classes = joinPath(temp.path(), L"classes");
    testsupport::makeDirectories(joinPath(classes, L"p"));
    const struct {
        std::string cfg;
        std::string javaOption;
        std::function<void()> prepare;
        std::string decision;
    } cases[] = {
        {"", "-Dx", [] {}, ""},
        {"app.cds=on\n", "-Dx", [] {}, "none, app.cds=on"},
        {"app.cds=auto\n", "-Xshare:off", [] {},
         "none, the Java options manage class-data sharing"},
        {"app.cds=auto\n", "-XX:AOTCache=a.aot", [] {}, "none, the Java options manage"},
        {"app.cds=auto\n", "-XX:-UseSharedSpaces", [] {}, "none, the Java options manage"},
        {"app.cds=auto\n", "-Dx", [this] { setup.envOptions = L"-Dy -XX:SharedArchiveFile=a"; },
         "none, the Java options"},
        {"app.cds=auto\n", "--limit-modules=java.base", [] {},
         "none, the runtime maps no archive with the option --limit-modules"},
        {"app.cds=auto\n", "--patch-module", [] {}, "none, the runtime maps no archive with"},
        {"app.cds=auto\n", "--upgrade-module-path", [] {}, "none, the runtime maps no archive"},
        {"app.cds=auto\n", "-XX:+RecordDynamicDumpInfo", [] {}, "none, the runtime maps no"},
        {"app.cds=auto\n", "-XX:VMOptionsFile=opts", [] {},
         "none, the option -XX:VMOptionsFile= reads options the launcher can't see"},
        {"app.cds=auto\n", "-Dx", [this] { setup.packageName = L".."; },
         "none, \"..\" can't name a cache directory"},
        {"app.cds=auto\n", "-Dx", [this] { setup.cacheBase.clear(); },
         "none, no user cache directory"},
        {"app.cds=auto\n", "-Dx", [this] { testsupport::writeFile(setup.cacheBase, "a file"); },
         "none, "},
        {"app.cds=auto\napp.classpath=" + tstrings::toUtf8(classes) + "\n", "-Dx", [] {},
         "none, the runtime can't archive the folder of classes " + tstrings::toUtf8(classes)},
        {"app.cds=auto\napp.modulepath=" + tstrings::toUtf8(temp.path()) + "\n", "-Dx", [] {},
         "none, the runtime can't archive the folder of classes "},
        {"app.cds=auto\n", "-Xbootclasspath/a:" + tstrings::toUtf8(classes), [] {},
         "none, the runtime can't archive the folder of classes "}};
    for (const auto& item : cases) {
        SCOPED_TRACE(item.cfg + item.javaOption);
        setup = original;
        item.prepare();
        const StartupArchive::Plan none = plan(item.cfg, "java-options=" + item.javaOption + "\n");
        EXPECT_TRUE(none.options.empty());
        EXPECT_TRUE(none.recording.empty());
        EXPECT_EQ(0u, decision().find(item.decision)) << decision();
        EXPECT_FALSE(FileUtils::pathExists(joinPath(temp.path(), L"cache/pkg")));
    }
}

// A creation runs with what decides the archive's layout and checks, and with nothing that
// would show the application's splash screen, write its logs or start its agents.
TEST_F(StartupArchiveTest, CreationTakesOnlyWhatTheArchiveMustAgreeWith) {
    setup.envOptions = L"-XX:+UseZGC -javaagent:a.jar ";
    recordAndCreate(); // makes the cache folder the creation below works in
    testsupport::writeFile(jar(), "jar v2, longer");
    const std::string options =
        "java-options=-Xlog:gc:file=gc.log\njava-options=-XX:StartFlightRecording\n"
        "java-options=-Xmx40g\njava-options=--add-modules\njava-options=java.sql\n"
        "java-options=-XX:-UseCompressedOops\njava-options=-Dp=v\njava-options=-Xss2m\n"
        "java-options=-XX:ObjectAlignmentInBytes=16\njava-options=--enable-preview\n";
    StartupArchive::Plan recorded = plan("app.cds=auto\n", options);
    testsupport::writeFile(recorded.recording, "App\n");
    StartupArchive::finish(recorded);
    recorded = StartupArchive::Plan();
    setup.creation = true;
    const StartupArchive::Plan created = plan("app.cds=auto\n", options);
    const tstring_array tail(created.options.begin() + 4, created.options.end());
    EXPECT_EQ((tstring_array{L"-XX:+UseZGC", L"-Xmx40g", L"--add-modules", L"java.sql",
                             L"-XX:-UseCompressedOops", L"-Dp=v", L"-XX:ObjectAlignmentInBytes=16",
                             L"--enable-preview", L"-Duse", L"-Dmake", L"-classpath", jar()}),
              tail);
}

} // namespace
