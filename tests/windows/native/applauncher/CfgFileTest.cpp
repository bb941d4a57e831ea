#include "WinApi.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "TestSupport.h"

namespace {

// Another program's handle on the configuration file, as an installer or an editor holds it.
class OtherHandle {
public:
    OtherHandle(const tstring& path, DWORD shareMode)
        : handle(CreateFileW(path.c_str(), GENERIC_WRITE, shareMode, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~OtherHandle() {
        if (isOpen()) {
            CloseHandle(handle);
        }
    }
    OtherHandle(const OtherHandle&) = delete;
    OtherHandle& operator=(const OtherHandle&) = delete;

    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

    bool write(const std::string& bytes) {
        DWORD written = 0;
        return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

private:
    HANDLE handle;
};

class ConfigFileSharing : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    const tstring path = dir.path() + L"\\app.cfg";
};

TEST_F(ConfigFileSharing, FileHeldOpenForWritingIsRead) {
    for (const DWORD shareMode : {DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE), DWORD(FILE_SHARE_READ),
                                  DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        OtherHandle writer(path, shareMode);
        ASSERT_TRUE(writer.isOpen());
        ASSERT_TRUE(writer.write("[Application]\r\napp.mainjar=a.jar\r\n"));

        const CfgFile cfg = CfgFile::load(path);
        const CfgSection& application = cfg.section(SectionName::Application);
        ASSERT_EQ(1u, application.count(PropertyName::mainjar)) << shareMode;
        EXPECT_EQ(L"a.jar", CfgFile::lastValue(*application.find(PropertyName::mainjar)));
    }
}

// A handle that shares nothing keeps every reader out: the open fails as a sharing violation.
TEST_F(ConfigFileSharing, FileHeldWithoutSharingIsAnOpenError) {
    OtherHandle writer(path, 0);
    ASSERT_TRUE(writer.isOpen());
    errno = EACCES;
    const std::string expected =
        "Error opening \"" + tstrings::toUtf8(path) + "\" file: " + lastCrtErrorText();
    try {
        CfgFile::load(path);
        ADD_FAILURE() << "no error";
    } catch (const VtError<std::runtime_error>& error) {
        EXPECT_EQ(expected, error.bareMessage());
    }
}

} // namespace
