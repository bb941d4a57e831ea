#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "LauncherStamp.h"
#include "PeImage.h"
#include "SyntheticPe.h"
#include "TestSupport.h"

namespace {

std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class StampFolder {
public:
    StampFolder() {
        testsupport::writeFile(launcher(), asString(syntheticpe::makeImage()));
        testsupport::writeFile(path(L"app.ico"), testsupport::readFile(FileUtils::joinPath(
                                                     testsupport::binaryDir(), L"pe-test.ico")));
    }
    tstring path(const tstring& name) const { return FileUtils::joinPath(dir.path(), name); }
    tstring launcher() const { return path(L"launcher.exe"); }
    ResourceTree resources(const tstring& name) const {
        const std::string bytes = testsupport::readFile(path(name));
        return PeImage(Bytes(bytes.begin(), bytes.end()), name).resources();
    }

private:
    testsupport::TempDir dir;
};

std::size_t countOf(const ResourceTree& tree, std::uint16_t type) {
    return tree.count(type) ? tree.at(type).size() : 0;
}

} // namespace

TEST(LauncherStamp, StampingAStampedLauncherReplacesItsIconAndVersion) {
    StampFolder folder;
    const tstring out = folder.path(L"App.exe");
    stampLauncher(folder.launcher(), out, {L"", folder.path(L"app.ico"), L"1.2", L"", L"", L""});
    stampLauncher(out, out, {L"", folder.path(L"app.ico"), L"3", L"Vendor", L"", L""});
    const ResourceTree tree = folder.resources(L"App.exe");
    EXPECT_EQ(4u, countOf(tree, ResourceType::icon));
    EXPECT_EQ(1u, countOf(tree, ResourceType::groupIcon));
    ASSERT_EQ(1u, countOf(tree, ResourceType::version));
    const Bytes& version = tree.at(ResourceType::version).at(1).at(0).bytes;
    EXPECT_EQ(0x00030000u, ByteView(version, "version").u32(40 + 8));
    EXPECT_EQ(syntheticpe::manifestTree().at(24), tree.at(24));
    EXPECT_FALSE(FileUtils::pathExists(out + L".stamping"));
}

TEST(LauncherStamp, AnyFailureLeavesTheTargetAsItWas) {
    StampFolder folder;
    testsupport::writeFile(folder.path(L"bad.ico"), "\0\0\1\0\xFF\xFF");
    testsupport::writeFile(folder.path(L"text.exe"), "MZ but nothing more");
    const std::string before = testsupport::readFile(folder.launcher());
    const std::pair<LauncherStamp, const char*> cases[] = {
        {{L"", folder.path(L"bad.ico"), L"", L"", L"", L""}, "Invalid icon file"},
        {{L"", folder.path(L"missing.ico"), L"", L"", L"", L""}, "Error reading"},
        {{L"", L"", L"1.70000", L"", L"", L""}, "Invalid version \"1.70000\""},
        {{L"", L"", L"1", L"", L"", L""}, "Cannot stamp"}, // the launcher is not a PE image
    };
    for (const auto& c : cases) {
        const tstring launcher = &c == &cases[3] ? folder.path(L"text.exe") : folder.launcher();
        try {
            stampLauncher(launcher, folder.launcher(), c.first);
            ADD_FAILURE() << c.second << ": accepted";
        } catch (const VtError<std::runtime_error>& e) {
            EXPECT_EQ(0u, std::string(e.bareMessage()).rfind(c.second, 0)) << e.bareMessage();
        }
        EXPECT_EQ(before, testsupport::readFile(folder.launcher()));
        EXPECT_FALSE(FileUtils::pathExists(folder.launcher() + L".stamping"));
    }
}
