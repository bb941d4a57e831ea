// vantrel-pack refusing what an image can't hold, rebuilding its own images, and never removing
// what another run made; images use the stand-in runtime, so they start at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "FileUtils.h"
#include "JliRecord.h"
#include "PackFiles.h"
#include "TestRuntime.h"
#include "TestSupport.h"
#include "Toolbox.h"

using testsupport::ChildResult;
namespace fs = std::filesystem;

namespace {

class PackSafety : public ::testing::Test {
protected:
    PackSafety() {
        testsupport::makeDirectories(input());
        testsupport::writeFile(FileUtils::joinPath(input(), L"app.jar"), "");
    }

    tstring input() const { return FileUtils::joinPath(dir.path(), L"in"); }
    tstring dest() const { return FileUtils::joinPath(dir.path(), L"new/dest"); }
    tstring image(const tstring& name) const { return FileUtils::joinPath(dest(), name); }

    ChildResult pack(const tstring& name, const tstring_array& options,
                     const tstring& runtime = testruntime::builtDir(),
                     const testsupport::EnvChanges& env = {}) const {
        tstring_array args = {L"--name",       name,          L"--input",
                              input(),         L"--main-jar", L"app.jar",
                              L"--main-class", L"a.Main",     L"--quiet"};
        if (std::find(options.begin(), options.end(), L"--dest") == options.end()) {
            args.insert(args.end(), {L"--dest", dest()});
        }
        if (!runtime.empty()) {
            args.insert(args.end(), {L"--runtime", runtime});
        }
        args.insert(args.end(), options.begin(), options.end());
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args, env);
    }

    // The last argument that the image's launcher gave the runtime.
    std::string lastArgument(const tstring& name) const {
        const tstring record = FileUtils::joinPath(dir.path(), L"record");
        const ChildResult run = testsupport::runChild(FileUtils::joinPath(image(name), name), {},
                                                      {{L"VANTREL_TEST_RECORD", record}});
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        const auto recorded = jlirecord::parse(testsupport::readFile(record));
        return recorded.at("argv[" + std::to_string(std::stoi(recorded.at("argc")) - 1) + "]");
    }

    std::vector<std::string> entries(const tstring& path) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(PackFiles::fsPath(path))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A JDK whose jdeps runs script, to fail late.
    tstring jdkWithJdeps(const std::string& script) const {
        const tstring jdk = FileUtils::joinPath(dir.path(), L"jdk");
        testsupport::makeDirectories(FileUtils::joinPath(jdk, L"bin"));
        for (const wchar_t* tool : {L"bin/jdeps", L"bin/jlink"}) {
            const tstring path = FileUtils::joinPath(jdk, tool);
            testsupport::writeFile(path, "#!/bin/sh\n" + script + "\n");
            fs::permissions(PackFiles::fsPath(path), fs::perms::owner_all);
        }
        return jdk;
    }

    testsupport::TempDir dir;
};

TEST_F(PackSafety, RefusalsAreOneLineAndLeaveNothingBehind) {
    const tstring notAnImage = FileUtils::joinPath(dir.path(), L"other");
    testsupport::makeDirectories(FileUtils::joinPath(notAnImage, L"Mine"));
    testsupport::writeFile(FileUtils::joinPath(notAnImage, L"Mine/data"), "kept");
    fs::create_directory_symlink(PackFiles::fsPath(input()),
                                 PackFiles::fsPath(FileUtils::joinPath(dir.path(), L"link")));
    const struct {
        tstring name;
        tstring_array options;
        unsigned exitCode;
        std::string error;
    } cases[] = {
        {L"a:b", {}, 2, "--name is not usable as a file name: \"a:b\""},
        {L"App", {L"--package", L"a\x01"}, 2, "--package is not usable as a file name: \"a?\""},
        {L"App",
         {L"--java-options",
          L"-Dx=a\x1a"
          L"b",
          L"--arguments", L"c"},
         2,
         "--java-options takes no value with Ctrl+Z (0x1A)"},
        {L"App", {L"--arguments", L""}, 2, "--arguments takes no empty value"},
        {L"App", {L"--app-version", L"1.0/2"}, 2, "--app-version takes no / or \\: \"1.0/2\""},
        {L"App",
         {L"--dest", FileUtils::joinPath(dir.path(), L"link/sub/out")},
         1,
         "the destination must not lie inside the input"},
        {L"Mine",
         {L"--dest", notAnImage, L"--replace"},
         1,
         "cannot replace " + tstrings::toUtf8(notAnImage) +
             "/Mine: it is not an image made by vantrel-pack"},
    };
    for (const auto& c : cases) {
        const ChildResult result = pack(c.name, c.options);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.error;
        EXPECT_EQ(result.err.substr(0, result.err.find('\n') + 1),
                  "vantrel-pack: " + c.error + "\n");
        EXPECT_FALSE(PackFiles::exists(FileUtils::joinPath(dir.path(), L"new"))) << c.error;
        EXPECT_EQ(entries(input()), std::vector<std::string>{"app.jar"}) << c.error;
    }
    EXPECT_EQ(entries(FileUtils::joinPath(notAnImage, L"Mine")), std::vector<std::string>{"data"});
    EXPECT_EQ(testsupport::readFile(FileUtils::joinPath(notAnImage, L"Mine/data")), "kept");
}

// The Linux launcher takes its configuration's name from the whole file name.
TEST_F(PackSafety, ANameWithDotsStarts) {
    const ChildResult packed = pack(L"hello-1.0", {L"--arguments", L"dotted"});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_EQ(lastArgument(L"hello-1.0"), "dotted");
}

TEST_F(PackSafety, ReplaceRebuildsItsOwnImageAndAFailureKeepsTheOld) {
    ASSERT_EQ(pack(L"App", {L"--arguments", L"first"}).exitCode, 0u);
    const ChildResult again = pack(L"App", {L"--arguments", L"second"});
    EXPECT_EQ(again.err, "vantrel-pack: " + tstrings::toUtf8(image(L"App")) + " already exists\n");
    EXPECT_EQ(lastArgument(L"App"), "first");

    const ChildResult replaced = pack(L"App", {L"--arguments", L"second", L"--replace"});
    ASSERT_EQ(replaced.exitCode, 0u) << replaced.err;
    EXPECT_EQ(lastArgument(L"App"), "second");
    EXPECT_EQ(entries(dest()), std::vector<std::string>{"App"});
    EXPECT_EQ(entries(image(L"App")),
              (std::vector<std::string>{".vantrel-image", "App", "app", "runtime"}));

    // Fails after the new image has begun: the old one stays whole.
    const ChildResult failed = pack(L"App",
                                    {L"--arguments", L"third", L"--replace", L"--jlink-from",
                                     jdkWithJdeps("echo broken >&2; exit 3")},
                                    tstring());
    EXPECT_EQ(failed.err, "vantrel-pack: jdeps failed with exit code 3: broken\n");
    EXPECT_EQ(lastArgument(L"App"), "second");
    EXPECT_EQ(entries(dest()), std::vector<std::string>{"App"});
}

// Two builds into one new folder: the one that fails removes only its own.
TEST_F(PackSafety, AFailingRunKeepsTheImageOfAConcurrentOne) {
    const tstring good = image(L"Good");
    const tstring jdk = jdkWithJdeps("for i in $(seq 600); do [ -e '" + tstrings::toUtf8(good) +
                                     "/Good' ] && exit 3; sleep 0.05; done; exit 4");
    ChildResult failing{};
    std::thread failingRun([&] { failing = pack(L"Bad", {L"--jlink-from", jdk}, tstring()); });
    for (int i = 0; i < 600 && !PackFiles::exists(dest()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const ChildResult succeeding = pack(L"Good", {L"--arguments", L"good"});
    failingRun.join();
    EXPECT_EQ(succeeding.exitCode, 0u) << succeeding.err;
    EXPECT_EQ(failing.err, "vantrel-pack: jdeps failed with exit code 3\n");
    EXPECT_EQ(entries(dest()), std::vector<std::string>{"Good"});
    EXPECT_EQ(lastArgument(L"Good"), "good");

    // Alone, a failing run removes the folders it made.
    fs::remove_all(PackFiles::fsPath(FileUtils::parentPath(dest())));
    EXPECT_EQ(pack(L"Bad", {L"--jlink-from", jdkWithJdeps("exit 5")}, tstring()).exitCode, 1u);
    EXPECT_FALSE(PackFiles::exists(FileUtils::parentPath(dest())));
}

// A link out of the input is refused; modes that let others write, or run a program as its
// owner, never reach an image, whatever the input's modes and the umask.
TEST_F(PackSafety, LinksOutOfTheInputAreRefusedAndUnsafeModesDropped) {
    const fs::path in = PackFiles::fsPath(input());
    const tstring outside = FileUtils::joinPath(dir.path(), L"secret.txt");
    testsupport::writeFile(outside, "secret");
    fs::create_symlink(PackFiles::fsPath(outside), in / "notes.txt");
    const ChildResult refused = pack(L"App", {});
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_EQ(refused.err, "vantrel-pack: the symbolic link " + tstrings::toUtf8(input()) +
                               "/notes.txt leads out of " + tstrings::toUtf8(input()) + ", to " +
                               tstrings::toUtf8(outside) + "\n");
    EXPECT_FALSE(PackFiles::exists(FileUtils::joinPath(dir.path(), L"new")));

    fs::remove(in / "notes.txt");
    fs::create_directory(in / "bin");
    testsupport::writeFile(FileUtils::joinPath(input(), L"bin/tool"), "#!/bin/sh\n");
    fs::permissions(in / "bin/tool", fs::perms(06777));
    fs::permissions(in / "bin", fs::perms(01777));
    fs::create_symlink("bin/tool", in / "tool");
    const mode_t umaskBefore = umask(0);
    const AtEndOfScope restoreUmask([&] { umask(umaskBefore); });
    const ChildResult packed = pack(L"App", {});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    const fs::path root = PackFiles::fsPath(image(L"App"));
    EXPECT_EQ(fs::status(root / "app/bin/tool").permissions(), fs::perms(0775));
    EXPECT_EQ(testsupport::readFile(image(L"App") + L"/app/tool"), "#!/bin/sh\n");
    const fs::perms unsafe =
        fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit | fs::perms::others_write;
    EXPECT_EQ(fs::status(root).permissions() & unsafe, fs::perms::none);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        EXPECT_EQ(entry.symlink_status().permissions() & unsafe, fs::perms::none) << entry.path();
    }
}

// Two runs writing one package at once: one wins, the other says so, and the winner's file
// stays as it wrote it.
TEST_F(PackSafety, ConcurrentRunsNeverReplaceEachOthersPackage) {
    const tstring tools = FileUtils::joinPath(dir.path(), L"tools");
    const std::string arrived = tstrings::toUtf8(FileUtils::joinPath(dir.path(), L"arrived"));
    testsupport::makeDirectories(tools);
    testsupport::makeDirectories(tstrings::fromUtf8(arrived));
    // Writes which run made the package, then waits for the other run to get as far.
    const tstring dpkgDeb = FileUtils::joinPath(tools, L"dpkg-deb");
    testsupport::writeFile(dpkgDeb,
                           "#!/bin/sh\nfor last; do :; done\necho \"$VT_RUN\" > \"$last\"\n"
                           "touch '" +
                               arrived +
                               "/'\"$VT_RUN\"\nfor i in $(seq 200); do\n"
                               "  [ $(ls '" +
                               arrived +
                               "' | wc -l) -ge 2 ] && exit 0; sleep 0.05\n"
                               "done\n");
    fs::permissions(PackFiles::fsPath(dpkgDeb), fs::perms::owner_all);
    ChildResult results[2];
    const wchar_t* const runs[] = {L"a", L"b"};
    std::thread other([&] {
        results[1] = pack(L"App", {L"--type", L"deb"}, testruntime::builtDir(),
                          {{L"PATH", tools + L":/usr/bin:/bin"}, {L"VT_RUN", runs[1]}});
    });
    results[0] = pack(L"App", {L"--type", L"deb"}, testruntime::builtDir(),
                      {{L"PATH", tools + L":/usr/bin:/bin"}, {L"VT_RUN", runs[0]}});
    other.join();
    const int winner = results[0].exitCode == 0 ? 0 : 1;
    const tstring deb = image(L"app_1.0_amd64.deb");
    EXPECT_EQ(results[winner].exitCode, 0u) << results[winner].err;
    EXPECT_EQ(results[1 - winner].exitCode, 1u);
    EXPECT_EQ(results[1 - winner].err,
              "vantrel-pack: " + tstrings::toUtf8(deb) + " already exists\n");
    EXPECT_EQ(testsupport::readFile(deb), tstrings::toUtf8(runs[winner]) + "\n");
    EXPECT_EQ(entries(dest()), std::vector<std::string>{"app_1.0_amd64.deb"});
}

} // namespace
