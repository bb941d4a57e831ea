// vantrel-pack.exe under Wine: names and folders that Windows spells its own way, images under
// folders outside the ANSI code page, rebuilds.
#include <gtest/gtest.h>

#include "WinApi.h"

#include <cstring>
#include <filesystem>
#include <map>

#include "FileUtils.h"
#include "JliRecord.h"
#include "TestRuntime.h"
#include "TestSupport.h"

using testsupport::ChildResult;
namespace fs = std::filesystem;

namespace {

// As the runtime reads the strings it receives: in the process's ANSI code page.
tstring decode(const std::string& text, unsigned codePage) {
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    tstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0],
                        length);
    return result;
}

std::size_t entryCount(const tstring& dir) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(fs::path(dir)), fs::directory_iterator()));
}

class WindowsPackSafety : public ::testing::Test {
protected:
    WindowsPackSafety() {
        testsupport::makeDirectories(input());
        testsupport::writeFile(FileUtils::joinPath(input(), L"app.jar"), "");
    }

    tstring input() const { return FileUtils::joinPath(dir.path(), L"in"); }

    ChildResult pack(const tstring& name, const tstring& dest, const tstring_array& options) const {
        tstring_array args = {L"--name",       name,      L"--input",    input(),
                              L"--dest",       dest,      L"--main-jar", L"app.jar",
                              L"--main-class", L"a.Main", L"--runtime",  testruntime::builtDir(),
                              L"--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        return testsupport::runChild(
            FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack.exe"), args);
    }

    std::map<std::string, std::string> start(const tstring& exe) const {
        const tstring record = FileUtils::joinPath(dir.path(), L"record.txt");
        const ChildResult run = testsupport::runChild(exe, {}, {{L"VANTREL_TEST_RECORD", record}});
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        return jlirecord::parse(testsupport::readFile(record));
    }

    testsupport::TempDir dir;
};

TEST_F(WindowsPackSafety, RefusalsAreOneLineAndLeaveNothingBehind) {
    const tstring dest = FileUtils::joinPath(dir.path(), L"dest");
    // The input's own folder in another case is the same folder.
    const tstring upperInput = FileUtils::joinPath(dir.path(), L"IN");
    const struct {
        tstring name;
        tstring dest;
        unsigned exitCode;
        std::string error;
    } cases[] = {
        {L"con.app", dest, 2, "--name is not usable as a file name: \"con.app\""},
        {L"App.", dest, 2, "--name is not usable as a file name: \"App.\""},
        {L"App", FileUtils::joinPath(upperInput, L"out"), 1,
         "the destination must not lie inside the input"},
        {L"App", upperInput, 1, "the destination must not lie inside the input"},
    };
    for (const auto& c : cases) {
        const ChildResult result = pack(c.name, c.dest, {});
        EXPECT_EQ(result.exitCode, c.exitCode) << c.error;
        const std::string err = testsupport::withUnixLineEnds(result.err);
        EXPECT_EQ(err.substr(0, err.find('\n')), "vantrel-pack: " + c.error) << err;
        EXPECT_EQ(entryCount(dir.path()), 1u) << c.error;
        EXPECT_EQ(entryCount(input()), 1u) << c.error;
    }
}

// Every path the runtime receives, decoded as it decodes them, names the real file; the
// version resource holds a build tool's version; a rebuild replaces the image.
TEST_F(WindowsPackSafety, ImagesUnderFoldersOutsideTheCodePageStartAndRebuild) {
    const tstring dest = FileUtils::joinPath(dir.path(), L"\u65e5\u672c\u8a9e \u0141\u00f3d\u017a");
    for (const wchar_t* target : {L"windows", L"windows-gui"}) {
        const tstring name = tstring(L"Uni-1.0-") + target;
        const tstring exe = FileUtils::PathBuilder() << dest << name << name + L".exe";
        for (const wchar_t* version : {L"1.2.3-SNAPSHOT", L"2.0.0-rc.1"}) {
            const ChildResult packed =
                pack(name, dest, {L"--target", target, L"--app-version", version, L"--replace"});
            ASSERT_EQ(packed.exitCode, 0u) << packed.err;

            const auto recorded = start(exe);
            const unsigned codePage = static_cast<unsigned>(std::stoul(recorded.at("acp")));
            EXPECT_EQ(codePage, 65001u);
            EXPECT_EQ(decode(recorded.at("argv[0]"), codePage), exe);
            ASSERT_EQ(recorded.at("argv[1]"), "-classpath");
            tstring_array paths = tstrings::split(decode(recorded.at("argv[2]"), codePage), L";");
            paths.push_back(decode(recorded.at("argv[3]"), codePage)
                                .substr(std::strlen("-Dvantrel.app-path=")));
            ASSERT_EQ(paths.size(), 2u);
            for (const tstring& path : paths) {
                EXPECT_TRUE(fs::is_regular_file(fs::path(path))) << tstrings::toUtf8(path);
            }

            std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), nullptr));
            ASSERT_TRUE(
                GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
            VS_FIXEDFILEINFO* fixed = nullptr;
            wchar_t* text = nullptr;
            UINT length = 0;
            ASSERT_TRUE(
                VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
            ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                                       reinterpret_cast<void**>(&text), &length));
            EXPECT_EQ(tstring(text), version);
            const std::uint64_t expected =
                version[0] == L'1' ? 0x0001000200030000u : 0x0002000000000000u;
            EXPECT_EQ((std::uint64_t(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS,
                      expected);
        }
    }
    EXPECT_EQ(entryCount(dest), 2u);
}

} // namespace
