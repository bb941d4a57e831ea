#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "TestSupport.h"

using namespace FileUtils;

namespace {

// The expectations are written for Windows; '|' marks a separator that joining inserts, which is
// the platform's own.
tstring inserted(const tstring& text) {
    tstring result = text;
    for (wchar_t& c : result) {
        if (c == L'|') {
            c = pathSeparator;
        }
    }
    return result;
}

// The root of an absolute path: a drive on Windows, nothing before the first '/' elsewhere.
#ifdef _WIN32
const tstring root = L"C:";
#else
const tstring root = L"";
#endif

} // namespace

TEST(PathText, ParentPath) {
    EXPECT_EQ(L"C:\\dir", parentPath(L"C:\\dir\\file.exe"));
    EXPECT_EQ(L"C:", parentPath(L"C:\\file"));
    EXPECT_EQ(L"", parentPath(L"file"));
    EXPECT_EQ(L"", parentPath(L"\\file"));
    EXPECT_EQ(L"dir", parentPath(L"dir\\\\\\file"));
    EXPECT_EQ(L"C:\\dir", parentPath(L"C:\\dir\\"));
    EXPECT_EQ(L"C:", parentPath(L"C:\\dir\\."));
    EXPECT_EQ(L"", parentPath(L"/."));
    EXPECT_EQ(L"/usr/lib", parentPath(L"/usr/lib/x.so"));
    EXPECT_EQ(L"", parentPath(L""));
    EXPECT_EQ(L"", parentPath(L"//"));
}

TEST(PathText, LastComponent) {
    EXPECT_EQ(L"app.exe", lastComponent(L"C:\\dir\\app.exe"));
    EXPECT_EQ(L"app", lastComponent(L"dir/app"));
    EXPECT_EQ(L"", lastComponent(L"C:\\dir\\"));
    EXPECT_EQ(L"app", lastComponent(L"app"));
    EXPECT_EQ(L"", lastComponent(L""));
}

TEST(PathText, JoinInsertsExactlyOnePlatformSeparator) {
    EXPECT_EQ(inserted(L"C:\\root|app"), joinPath(L"C:\\root", L"app"));
    EXPECT_EQ(inserted(L"C:\\root|app"), joinPath(L"C:\\root\\", L"\\app"));
    EXPECT_EQ(inserted(L"C:|app"), joinPath(L"C:\\", L"app"));
    EXPECT_EQ(inserted(L"|app"), joinPath(L"\\", L"app"));
    EXPECT_EQ(inserted(L"root|app"), joinPath(L"root//", L"/app"));
}

TEST(PathText, JoinWithEmptyTextKeepsTheOtherSideUnchanged) {
    EXPECT_EQ(L"a", joinPath(L"a", L""));
    EXPECT_EQ(L"b", joinPath(L"", L"b"));
    EXPECT_EQ(L"a\\", joinPath(L"a\\", L""));
    EXPECT_EQ(L"\\b", joinPath(L"", L"\\b"));
}

TEST(PathText, JoinDropsOnlyOneLeadingSeparatorOfTheSecondPart) {
    EXPECT_EQ(inserted(L"a|"), joinPath(L"a", L"\\"));
    EXPECT_EQ(inserted(L"a|\\b"), joinPath(L"a", L"\\\\b"));
}

TEST(PathText, TrimTrailingSeparators) {
    EXPECT_EQ(L"C:\\dir", trimTrailingSeparators(L"C:\\dir\\/"));
    EXPECT_EQ(L"", trimTrailingSeparators(L"\\\\"));
    EXPECT_EQ(L"\\a", trimTrailingSeparators(L"\\a"));
}

// Only Windows executables carry an extension, and only ".exe" is one.
TEST(PathText, AppNameOfLauncher) {
    EXPECT_EQ(L"app", appNameOfLauncher(L"app"));
    EXPECT_EQ(L"hello-1.0", appNameOfLauncher(L"/dir.d/hello-1.0"));
    EXPECT_EQ(L"", appNameOfLauncher(L"dir\\"));
#ifdef _WIN32
    EXPECT_EQ(L"hello-1.0", appNameOfLauncher(L"C:\\dir.d\\hello-1.0.exe"));
    EXPECT_EQ(L"App", appNameOfLauncher(L"App.EXE"));
    EXPECT_EQ(L".exe", appNameOfLauncher(L".exe"));
#else
    EXPECT_EQ(L"hello-1.0.exe", appNameOfLauncher(L"hello-1.0.exe"));
#endif
}

TEST(PathText, PathBuilderTakesTheFirstComponentUnchanged) {
    PathBuilder builder;
    EXPECT_EQ(L"", builder.path());
    builder << L"C:\\root\\" << L"runtime" << L"bin\\jli.dll";
    EXPECT_EQ(inserted(L"C:\\root|runtime|bin\\jli.dll"), builder.path());
    const tstring& asText = builder;
    EXPECT_EQ(builder.path(), asText);
}

TEST(PathOnDisk, ExistenceOfFilesAndDirectories) {
    testsupport::TempDir dir;
    const tstring file = joinPath(dir.path(), L"f.txt");
    testsupport::writeFile(file, "x");
    EXPECT_TRUE(pathExists(dir.path()));
    EXPECT_TRUE(pathExists(file));
    EXPECT_FALSE(pathExists(joinPath(dir.path(), L"missing")));
    EXPECT_FALSE(pathExists(L""));
}

TEST(PathOnDisk, PathWithEmbeddedNulNamesNoFile) {
    testsupport::TempDir dir;
    // Read up to the NUL this would name the existing directory.
    EXPECT_FALSE(pathExists(dir.path() + tstring(1, L'\0') + L"x"));
    EXPECT_THROW(toAbsolutePath(tstring(L"a\0b", 3)), VtError<std::runtime_error>);
}

TEST(PathOnDisk, AbsolutePathOfEmptyTextIsTheCurrentDirectory) {
    const tstring cwd = toAbsolutePath(L"");
    EXPECT_FALSE(cwd.empty());
    EXPECT_TRUE(pathExists(cwd));
    EXPECT_EQ(cwd, toAbsolutePath(L"."));
    EXPECT_EQ(cwd, toAbsolutePath(cwd));
}

TEST(PathOnDisk, AbsolutePathResolvesDotComponents) {
    const tstring cwd = toAbsolutePath(L"");
    EXPECT_EQ(joinPath(cwd, L"y"), toAbsolutePath(inserted(L"x|..|y")));
    EXPECT_EQ(joinPath(cwd, L"y"), toAbsolutePath(inserted(L".|y")));
    EXPECT_EQ(inserted(root + L"|w|y"), toAbsolutePath(inserted(root + L"|w|x|..|.|y")));
    EXPECT_EQ(inserted(root + L"|"), toAbsolutePath(inserted(root + L"|..|..")));
}
