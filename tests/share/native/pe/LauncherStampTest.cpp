#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "LauncherStamp.h"
#include "SyntheticPe.h"
#include "TestSupport.h"

namespace {

struct StampFolder {
    StampFolder() {
        const Bytes image = syntheticpe::makeImage();
        testsupport::writeFile(launcher, std::string(image.begin(), image.end()));
    }
    tstring path(const tstring& name) const { return FileUtils::joinPath(dir.path(), name); }

    testsupport::TempDir dir;
    tstring launcher = path(L"launcher.exe");
};

} // namespace

TEST(LauncherStamp, AnyFailureLeavesTheTargetAsItWas) {
    StampFolder folder;
    testsupport::writeFile(folder.path(L"bad.ico"), std::string("\0\0\1\0\xFF\xFF", 6));
    testsupport::writeFile(folder.path(L"text.exe"), "MZ but nothing more");
    const std::string before = testsupport::readFile(folder.launcher);
    const struct {
        tstring launcher;
        LauncherStamp stamp;
        const char* message;
    } cases[] = {
        {folder.launcher, {L"", folder.path(L"bad.ico"), L"", L"", L"", L""}, "Invalid icon file"},
        {folder.launcher, {L"", folder.path(L"none.ico"), L"", L"", L"", L""}, "Error opening"},
        {folder.launcher, {L"", L"", L"1.70000", L"", L"", L""}, "Invalid version \"1.70000\""},
        {folder.path(L"text.exe"), {L"", L"", L"1", L"", L"", L""}, "Cannot stamp"},
    };
    for (const auto& c : cases) {
        try {
            stampLauncher(c.launcher, folder.launcher, c.stamp);
            ADD_FAILURE() << c.message << ": accepted";
        } catch (const VtError<std::runtime_error>& e) {
            EXPECT_EQ(0u, std::string(e.bareMessage()).rfind(c.message, 0)) << e.bareMessage();
        }
        EXPECT_EQ(before, testsupport::readFile(folder.launcher));
        EXPECT_FALSE(FileUtils::pathExists(folder.launcher + L".stamping"));
    }
}
