#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "TestSupport.h"

namespace {

// Enters a directory and removes it, so that the process has no current directory, and goes
// back to where it was at the end.
class RemovedCurrentDirectory {
public:
    RemovedCurrentDirectory() : previous(FileUtils::toAbsolutePath(L"")) {
        const std::string path = tstrings::toUtf8(dir.path());
        ok = chdir(path.c_str()) == 0 && rmdir(path.c_str()) == 0;
    }
    ~RemovedCurrentDirectory() {
        if (chdir(tstrings::toUtf8(previous).c_str()) != 0) {
            ADD_FAILURE() << "can't go back to the previous directory";
        }
    }
    bool ok = false;

private:
    tstring previous;
    testsupport::TempDir dir;
};

std::string bareMessageOf(const tstring& path) {
    try {
        FileUtils::toAbsolutePath(path);
    } catch (const VtError<std::runtime_error>& error) {
        return error.bareMessage();
    }
    return "<no error>";
}

} // namespace

TEST(LinuxPathOnDisk, MissingCurrentDirectoryIsReported) {
    RemovedCurrentDirectory cwd;
    ASSERT_TRUE(cwd.ok);
    EXPECT_EQ("_tgetcwd() failed", bareMessageOf(L""));
    EXPECT_EQ("_tfullpath(x/y) failed", bareMessageOf(L"x/y"));
    // An absolute path needs no current directory.
    EXPECT_EQ(L"/a/c", FileUtils::toAbsolutePath(L"/a/b/../c"));
}

TEST(LinuxPathOnDisk, BackslashIsPartOfAFileNameForTheAbsolutePath) {
    EXPECT_EQ(L"/c", FileUtils::toAbsolutePath(L"/a\\b/../c"));
    EXPECT_EQ(L"/a\\..\\b", FileUtils::toAbsolutePath(L"/a\\..\\b"));
}
