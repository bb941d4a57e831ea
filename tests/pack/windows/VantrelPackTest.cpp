// vantrel-pack.exe under Wine: an image packed with the test runtime, then started.
#include <gtest/gtest.h>

#include "WinApi.h"

#include "FileUtils.h"
#include "JliRecord.h"
#include "TestRuntime.h"
#include "TestSupport.h"

using testsupport::ChildResult;

namespace {

std::string utf8(const tstring& text) {
    return tstrings::toUtf8(text);
}

TEST(PackForWindows, TheJvmReceivesExactlyTheConfiguredCommandLine) {
    const testsupport::TempDir dir;
    const tstring input = FileUtils::joinPath(dir.path(), L"in");
    testsupport::makeDirectories(FileUtils::joinPath(input, L"lib"));
    testsupport::writeFile(FileUtils::joinPath(input, L"app.jar"), "");
    testsupport::writeFile(FileUtils::joinPath(input, L"lib\\more.jar"), "");
    const tstring dest = FileUtils::joinPath(dir.path(), L"dest with space");
    // The launcher comes from where the build keeps it, as an installed one does.
    const ChildResult packed =
        testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack.exe"),
                              {L"--name",         L"Hello",
                               L"--input",        input,
                               L"--dest",         dest,
                               L"--main-jar",     L"app.jar",
                               L"--main-class",   L"hello.Main",
                               L"--class-path",   L"lib/more.jar",
                               L"--runtime",      testruntime::builtDir(),
                               L"--java-options", L"-Dgreeting=Hi \"there\"",
                               L"--java-options", L"-Dhome=$APPDIR\\x",
                               L"--arguments",    L"configured one",
                               L"--no-restart",   L"--quiet",
                               L"--icon",         FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico"),
                               L"--app-version",  L"2.5",
                               L"--vendor",       L"Us"});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_EQ(packed.out, "");

    const tstring image = FileUtils::joinPath(dest, L"Hello");
    const tstring exe = FileUtils::joinPath(image, L"Hello.exe");
    const tstring app = FileUtils::joinPath(image, L"app");
    const tstring record = FileUtils::joinPath(dir.path(), L"record.txt");
    // The version information defaults from the name and the version given.
    std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), nullptr));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    for (const auto& item : {std::make_pair(L"ProductName", L"Hello"), std::make_pair(L"CompanyName", L"Us"),
                             std::make_pair(L"FileVersion", L"2.5"), std::make_pair(L"OriginalFilename", L"Hello.exe")}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const tstring key = tstring(L"\\StringFileInfo\\040904B0\\") + item.first;
        ASSERT_TRUE(VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << utf8(key);
        EXPECT_EQ(tstring(item.second), tstring(value)) << utf8(key);
    }
    for (const tstring_array& args : {tstring_array{}, tstring_array{L"a", L"b c", L""}}) {
        const ChildResult run = testsupport::runChild(
            exe, args, {{L"VANTREL_TEST_RECORD", record}, {L"VANTREL_TEST_EXIT", L"5"}});
        EXPECT_EQ(run.exitCode, 5u) << run.err;
        const auto recorded = jlirecord::parse(testsupport::readFile(record));
        std::vector<std::string> expected = {utf8(exe),
                                             "-classpath",
                                             utf8(app + L"\\app.jar;" + app + L"\\lib\\more.jar"),
                                             "-Dgreeting=Hi \"there\"",
                                             utf8(L"-Dhome=" + app + L"\\x"),
                                             "-Dvantrel.app-path=" + utf8(exe),
                                             "hello.Main"};
        for (const tstring& arg : args.empty() ? tstring_array{L"configured one"} : args) {
            expected.push_back(utf8(arg));
        }
        ASSERT_EQ(recorded.at("argc"), std::to_string(expected.size()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(recorded.at("argv[" + std::to_string(i) + "]"), expected[i]) << i;
        }
    }
}

} // namespace
