#include <cerrno>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "TestSupport.h"
#include "TextFileReader.h"

namespace {

TEST(ConfigFileSharing, FileHeldOpenForWritingIsRead) {
    testsupport::TempDir dir;
    const tstring path = dir.path() + L"/app.cfg";
    const UniqueFile writer(std::fopen(tstrings::toUtf8(path).c_str(), "w"));
    ASSERT_TRUE(writer);
    std::fputs("[Application]\napp.mainjar=a.jar\n", writer.get());
    std::fflush(writer.get());

    const CfgFile cfg = CfgFile::load(path);
    const CfgSection& application = cfg.section(SectionName::Application);
    ASSERT_EQ(1u, application.count(PropertyName::mainjar));
    EXPECT_EQ(L"a.jar", CfgFile::lastValue(*application.find(PropertyName::mainjar)));
}

// Reading this process's memory from address 0 fails with an I/O error after a good open.
TEST(ConfigReadErrors, ReadFailureIsReportedWithTheCRuntimeText) {
    errno = EIO;
    const std::string expected =
        "Failed to read \"/proc/self/mem\" file up to the end: " + lastCrtErrorText();
    try {
        CfgFile::load(L"/proc/self/mem");
        ADD_FAILURE() << "no error";
    } catch (const VtError<std::runtime_error>& error) {
        EXPECT_EQ(expected, error.bareMessage());
        EXPECT_NE(std::string::npos,
                  std::string(error.what()).find(") at CfgFile::load(): " + expected));
    }
}

} // namespace
