// vantrel-pack.exe's packages on a Windows host: the zip is made here, the installer, the
// Debian and the rpm package need the Linux build.
#include <gtest/gtest.h>

#include "FileUtils.h"
#include "PackFiles.h"
#include "TestRuntime.h"
#include "TestSupport.h"

using testsupport::ChildResult;

namespace {

TEST(PackagesOnWindows, ZipIsMadeHereAndTheSameTwiceInstallersNeedLinux) {
    const testsupport::TempDir dir;
    const tstring input = FileUtils::joinPath(dir.path(), L"in");
    testsupport::makeDirectories(input);
    testsupport::writeFile(FileUtils::joinPath(input, L"app.jar"), "");
    const auto pack = [&](const tstring& dest, const tstring_array& options) {
        tstring_array args = {L"--name",       L"Hello",      L"--input",    input,
                              L"--dest",       dest,          L"--main-jar", L"app.jar",
                              L"--main-class", L"hello.Main", L"--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        return testsupport::runChild(
            FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack.exe"), args,
            {{L"SOURCE_DATE_EPOCH", L"1700000000"}});
    };
    const tstring_array zip = {L"--type", L"zip", L"--runtime", testruntime::builtDir()};
    std::string bytes[2];
    for (int i = 0; i < 2; ++i) {
        const tstring dest = FileUtils::joinPath(dir.path(), i == 0 ? L"one" : L"two");
        const ChildResult packed = pack(dest, zip);
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        bytes[i] = testsupport::readFile(FileUtils::joinPath(dest, L"Hello-1.0.zip"));
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    // The first entry is the folder that holds the image; the launcher is in it.
    EXPECT_EQ(bytes[0].substr(0, 4), std::string("PK\x03\x04"));
    EXPECT_EQ(bytes[0].substr(30, 6), "Hello/");
    EXPECT_NE(bytes[0].find("Hello/Hello.exe"), std::string::npos);
    EXPECT_NE(bytes[0].find("Hello/runtime/bin/jli.dll"), std::string::npos);

    const tstring dest = FileUtils::joinPath(dir.path(), L"installers");
    const std::pair<tstring_array, const char*> cases[] = {
        {{L"--type", L"msi"}, "vantrel-pack: --type msi needs the Linux build of vantrel-pack\n"},
        {{L"--type", L"deb", L"--target", L"linux"},
         "vantrel-pack: --type deb needs the Linux build of vantrel-pack\n"},
        {{L"--type", L"rpm", L"--target", L"linux"},
         "vantrel-pack: --type rpm needs the Linux build of vantrel-pack\n"},
    };
    for (const auto& c : cases) {
        const ChildResult result = pack(dest, c.first);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(testsupport::withUnixLineEnds(result.err), c.second);
        EXPECT_FALSE(PackFiles::exists(dest));
    }
}

} // namespace
