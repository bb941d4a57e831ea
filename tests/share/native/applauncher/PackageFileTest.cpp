#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackageFile.h"
#include "TestSupport.h"

namespace {

// ---- Platform part: the C runtime's error number for opening a directory --------------------
#ifdef _WIN32
const int openDirectoryError = EACCES;
#else
const int openDirectoryError = EISDIR;
#endif
// ---- End of the platform part ----------------------------------------------------------------

class PackageFileTest : public ::testing::Test {
protected:
    // The package name read from a ".package" file holding bytes.
    tstring nameFrom(const std::string& bytes) {
        testsupport::writeFile(packagePath, bytes);
        return PackageFile::loadFromAppDir(dir.path()).getPackageName();
    }

    std::vector<tstring> readTraceAnd(const tstring& nameLine) {
        return {L"TRACE: Read \"" + packagePath + L"\" package file",
                L"TRACE: Package name is [" + nameLine + L"]"};
    }

    testsupport::TempDir dir;
    const tstring packagePath = dir.path() + FileUtils::pathSeparator + L".package";
    testsupport::LogRecorder log;
};

TEST_F(PackageFileTest, NoFileMeansNoNameAndNoMessage) {
    EXPECT_EQ(L"", PackageFile::loadFromAppDir(dir.path()).getPackageName());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(PackageFileTest, EmptyFileLogsOnlyTheRead) {
    EXPECT_EQ(L"", nameFrom(""));
    EXPECT_EQ(std::vector<tstring>{L"TRACE: Read \"" + packagePath + L"\" package file"},
              log.lines());
}

TEST_F(PackageFileTest, FirstLineIsTheName) {
    EXPECT_EQ(L"MyApp", nameFrom("MyApp\r\nsecond\nthird"));
    EXPECT_EQ(readTraceAnd(L"MyApp"), log.lines());
}

TEST_F(PackageFileTest, NameIsNotTrimmed) {
    EXPECT_EQ(L" My App \t", nameFrom(" My App \t\n"));
    EXPECT_EQ(L"\uFEFFMyApp", nameFrom("\xEF\xBB\xBFMyApp"));
    EXPECT_EQ(L"caf\u00E9", nameFrom("caf\xC3\xA9"));
}

TEST_F(PackageFileTest, EmptyOrUndecodableFirstLineGivesAnEmptyName) {
    EXPECT_EQ(L"", nameFrom("\nMyApp\n"));
    EXPECT_EQ(readTraceAnd(L""), log.lines());
    log.events.clear();
    EXPECT_EQ(L"", nameFrom("My\xFF"
                            "App\nMyApp\n"));
    EXPECT_EQ(readTraceAnd(L""), log.lines());
}

TEST_F(PackageFileTest, DirectoryInPlaceOfTheFileIsAnOpenError) {
    testsupport::makeDirectories(packagePath);
    errno = openDirectoryError;
    const std::string expected =
        "Error opening \"" + tstrings::toUtf8(packagePath) + "\" file: " + lastCrtErrorText();
    try {
        PackageFile::loadFromAppDir(dir.path());
        ADD_FAILURE() << "no error";
    } catch (const VtError<std::runtime_error>& error) {
        EXPECT_EQ(expected, error.bareMessage());
        EXPECT_EQ(0u, std::string(error.what()).find("PackageFile.cpp(")) << error.what();
        EXPECT_NE(std::string::npos,
                  std::string(error.what()).find(") at PackageFile::loadFromAppDir(): " + expected))
            << error.what();
    }
}

} // namespace
