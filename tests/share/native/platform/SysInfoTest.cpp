#include <gtest/gtest.h>

#include <filesystem>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "TestSupport.h"

namespace {

const tstring unsetName = L"VT_SYSINFO_TEST_NEVER_SET";

// The fixture's "tag:value" lines whose tag is given, without the carriage returns of a
// text-mode stream.
tstring_array fixtureValues(const testsupport::ChildResult& result, const std::string& tag) {
    tstring_array values;
    size_t start = 0;
    while (start < result.out.size()) {
        size_t end = result.out.find('\n', start);
        end = end == std::string::npos ? result.out.size() : end;
        std::string line = result.out.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.compare(0, tag.size() + 1, tag + ":") == 0) {
            values.push_back(tstrings::fromUtf8(line.substr(tag.size() + 1)));
        }
        start = end + 1;
    }
    return values;
}

} // namespace

TEST(SysInfoEnvironment, ValuesOfEveryLengthAreReadInFull) {
    const tstring name = L"VT_SYSINFO_TEST_LENGTHS";
    // 9 characters fit the first read; 10 and more need the second.
    for (size_t length : {9u, 10u, 11u, 5000u}) {
        tstring value;
        for (size_t i = 0; i < length; ++i) {
            value += static_cast<wchar_t>(L'a' + i % 26);
        }
        SysInfo::setEnvVariable(name, value);
        EXPECT_EQ(value, SysInfo::getEnvVariable(name)) << length;
        EXPECT_EQ(value, SysInfo::getEnvVariable(std::nothrow, name, L"d")) << length;
    }
    const tstring text = L"caf\u00e9 \u20ac \U0001F600 end";
    SysInfo::setEnvVariable(name, text);
    EXPECT_EQ(text, SysInfo::getEnvVariable(name));
}

TEST(SysInfoEnvironment, EmptyValueIsNotAMissingVariable) {
    const tstring name = L"VT_SYSINFO_TEST_EMPTY";
    SysInfo::setEnvVariable(name, L"");
    EXPECT_EQ(L"", SysInfo::getEnvVariable(std::nothrow, name, L"d"));
    EXPECT_EQ(L"", SysInfo::getEnvVariable(name));
    EXPECT_EQ(L"d", SysInfo::getEnvVariable(std::nothrow, unsetName, L"d"));
}

TEST(SysInfoEnvironment, RaisingLookupOfMissingVariableNamesIt) {
    try {
        SysInfo::getEnvVariable(unsetName);
        FAIL() << "no error raised";
    } catch (const VtError<SysError>& error) {
        // The system part after "[" differs by platform; the platform tests check it whole.
        const std::string expectedStart =
            "GetEnvironmentVariable(VT_SYSINFO_TEST_NEVER_SET) failed. Variable not set. "
            "System error [";
        EXPECT_EQ(expectedStart, std::string(error.bareMessage()).substr(0, expectedStart.size()));
    }
}

TEST(SysInfoProcess, CommandArgsSkipOnlyTheProgramName) {
    const tstring_array all = SysInfo::getCommandArgs(false);
    const tstring_array skipped = SysInfo::getCommandArgs(true);
    ASSERT_EQ(all.size(), skipped.size() + 1);
    EXPECT_EQ(L"vantrel_unit_tests", FileUtils::appNameOfLauncher(all[0]));
    EXPECT_EQ(tstring_array(all.begin() + 1, all.end()), skipped);
}

TEST(SysInfoProcess, ExecutableAndModulePathsNameTheTestProgram) {
    const tstring path = SysInfo::getExecutablePath();
    EXPECT_EQ(path, FileUtils::toAbsolutePath(path));
    EXPECT_TRUE(FileUtils::pathExists(path));
    EXPECT_EQ(L"vantrel_unit_tests", FileUtils::appNameOfLauncher(path));
    // The core is linked into the test program itself.
    EXPECT_NE(nullptr, SysInfo::getCurrentModuleHandle());
    EXPECT_EQ(path, SysInfo::getCurrentModulePath());
}

TEST(SysInfoProcess, SystemDirExistsWithoutTrailingSeparator) {
    const tstring dir = SysInfo::getSystemDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_FALSE(FileUtils::isPathSeparator(dir.back())) << tstrings::toUtf8(dir);
    EXPECT_TRUE(FileUtils::pathExists(dir)) << tstrings::toUtf8(dir);
}

TEST(SysInfoChild, ArgumentsArriveOneByOne) {
    const tstring fixture = testsupport::fixturePath(L"sysinfofixture");
    const testsupport::ChildResult bare = testsupport::runChild(fixture, {});
    ASSERT_EQ(0u, bare.exitCode) << bare.err;
    EXPECT_EQ(tstring_array(), fixtureValues(bare, "arg"));

    const testsupport::ChildResult result = testsupport::runChild(
        fixture, {L"a b", L"", L"\"quoted\"", L"back\\slash\\", L"caf\u00e9"});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const tstring_array expected = {L"[a b]", L"[]", L"[\"quoted\"]", L"[back\\slash\\]",
                                    L"[caf\u00e9]"};
    EXPECT_EQ(expected, fixtureValues(result, "arg"));
}

TEST(SysInfoChild, ExecutablePathLongerThan260CharactersIsReturnedInFull) {
    testsupport::TempDir temp;
    tstring dir = temp.path();
    while (dir.size() < 300) {
        dir = FileUtils::joinPath(dir, tstring(60, L'd'));
    }
    testsupport::makeDirectories(dir);
    const tstring source = testsupport::fixturePath(L"sysinfofixture");
    const tstring copy = FileUtils::joinPath(dir, FileUtils::lastComponent(source));
    testsupport::writeFile(copy, testsupport::readFile(source));
    std::filesystem::permissions(std::filesystem::path(copy), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);

    testsupport::ChildResult result{};
    try {
        result = testsupport::runChild(copy, {});
    } catch (const std::runtime_error& error) {
#ifdef _WIN32
        // Wine, like Windows without long path support, starts no program from such a path.
        GTEST_SKIP() << error.what();
#else
        throw;
#endif
    }
    ASSERT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ(tstring_array{copy}, fixtureValues(result, "exe"));
    EXPECT_EQ(tstring_array{copy}, fixtureValues(result, "module"));
}
