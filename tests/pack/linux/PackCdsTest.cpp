// vantrel-pack --cds: the runtime of the image gets the base archive that the launcher's
// archive extends, or the tool says why it can't.
#include <gtest/gtest.h>

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

    ChildResult pack(const tstring_array& more, const tstring& dest = L"dest") const {
        tstring_array args{L"--name",     L"App",     L"--input",
                           input(),       L"--dest",  FileUtils::joinPath(dir.path(), dest),
                           L"--main-jar", L"app.jar", L"--main-class",
                           L"cds.Main",   L"--cds",   L"--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args);
    }

    ChildResult run(const tstring& dest) const {
        return testsupport::runChild(FileUtils::joinPath(image(dest), L"App"), {L"9"},
                                     {{L"XDG_CACHE_HOME", FileUtils::joinPath(dir.path(), dest)},
                                      {L"VANTREL_DEBUG", L"true"},
                                      {L"JDK_JAVA_OPTIONS", std::nullopt},
                                      {L"JAVA_TOOL_OPTIONS", std::nullopt},
                                      {L"_JAVA_OPTIONS", std::nullopt}});
    }

    testsupport::TempDir dir;
};

// Linked with jlink's plugin, or a copied runtime given its archive by its own java.
TEST_F(PackingWithCds, ThePackedApplicationUsesAnArchiveFromItsSecondStart) {
    const tstring_array runtimes[] = {
        {}, {L"--runtime", FileUtils::joinPath(buildDir(), L"jlinkruntime")}};
    for (const tstring_array& runtime : runtimes) {
        const tstring dest = runtime.empty() ? L"linked" : L"copied";
        SCOPED_TRACE(tstrings::toUtf8(dest));
        const ChildResult packed = pack(runtime, dest);
        ASSERT_EQ(0u, packed.exitCode) << packed.err;
        EXPECT_EQ("", packed.err);
        EXPECT_TRUE(PackFiles::isFile(FileUtils::PathBuilder()
                                      << image(dest) << L"runtime/lib/server/classes.jsa"));
        for (const char* decision : {"Class-data archive: make ", "Class-data archive: use "}) {
            const ChildResult result = run(dest);
            EXPECT_EQ(9u, result.exitCode) << result.err;
            EXPECT_EQ("version 1\n", result.out);
            EXPECT_NE(std::string::npos, result.err.find(decision)) << result.err;
        }
    }
}

TEST_F(PackingWithCds, ARuntimeThatCannotHaveAnArchiveIsNamedInOneLine) {
    const tstring runtime = FileUtils::joinPath(dir.path(), L"old");
    testruntime::install(runtime); // no release file: no Java version to build on
    const ChildResult packed = pack({L"--runtime", runtime});
    EXPECT_EQ(0u, packed.exitCode) << packed.err;
    EXPECT_EQ("vantrel-pack: warning: --cds does nothing: the runtime is not Java 13 or later\n",
              packed.err);
}

} // namespace
