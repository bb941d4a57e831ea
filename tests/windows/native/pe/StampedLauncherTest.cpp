// The real launcher stamped, read back through the system's own resource, version and icon
// calls, and still starting an application.
#include <gtest/gtest.h>

#include "WinApi.h"

#include <imagehlp.h>
#include <iterator>
#include <winver.h>

#include "FileUtils.h"
#include "JliRecord.h"
#include "LauncherStamp.h"
#include "TestRuntime.h"
#include "TestSupport.h"

namespace {

tstring built(const tstring& name) {
    return FileUtils::joinPath(testsupport::binaryDir(), name);
}

// The launcher's resources as Explorer reads them: loaded as data, never run.
class ResourceModule {
public:
    explicit ResourceModule(const tstring& path)
        : module(LoadLibraryExW(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ResourceModule() { FreeLibrary(module); }
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;

    std::string get(LPCWSTR type, WORD id) const {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return found ? std::string(data, SizeofResource(module, found)) : std::string("(none)");
    }
    int count(LPCWSTR type) const {
        int names = 0;
        EnumResourceNamesW(
            module, type,
            [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR n) -> BOOL {
                return ++*reinterpret_cast<int*>(n) > 0;
            },
            reinterpret_cast<LONG_PTR>(&names));
        return names;
    }

    HMODULE module;
};

tstring versionText(const std::vector<char>& block, const tstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const tstring path = L"\\StringFileInfo\\040904B0\\" + key;
    return VerQueryValueW(block.data(), path.c_str(), &value, &length)
               ? static_cast<const wchar_t*>(value)
               : L"(none)";
}

// Every image of the group is found by its size and loads as an icon of that size.
void expectEveryIconLoads(const ResourceModule& module) {
    std::string group = module.get(RT_GROUP_ICON, 1);
    auto* directory = reinterpret_cast<BYTE*>(&group[0]);
    ASSERT_EQ(4, directory[4]);
    for (int i = 0; i < 4; ++i) {
        const int size = directory[6 + 14 * i] == 0 ? 256 : directory[6 + 14 * i];
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, 0);
        std::string bits = module.get(RT_ICON, WORD(id));
        HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&bits[0]), DWORD(bits.size()),
                                              TRUE, 0x00030000, size, size, 0);
        EXPECT_NE(nullptr, icon) << size;
        DestroyIcon(icon);
    }
    HANDLE icon = LoadImageW(module.module, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, 0);
    EXPECT_NE(nullptr, icon);
    DestroyIcon(static_cast<HICON>(icon));
}

struct Stamped {
    testsupport::TempDir dir;
    tstring exe = FileUtils::joinPath(dir.path(), L"HelloApp.exe");

    std::vector<char> versionBlock() const {
        DWORD ignored = 0;
        std::vector<char> block(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
        EXPECT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, DWORD(block.size()), block.data()));
        return block;
    }
};

} // namespace

// The console and the windowed launcher alike.
class StampedLauncher : public testing::TestWithParam<const wchar_t*> {};

INSTANTIATE_TEST_SUITE_P(Launchers, StampedLauncher,
                         testing::Values(L"vantrel.exe", L"vantrelw.exe"));

TEST_P(StampedLauncher, ShowsItsVersionAndIconsAndKeepsItsManifestAndChecksum) {
    Stamped stamped;
    stampLauncher(built(GetParam()), stamped.exe,
                  {L"Hello App", built(L"pe-test.ico"), L"1.2.3.4", L"ACME \u00c9ditions",
                   L"Says hello", L"(c) 2026 ACME"});
    const std::vector<char> block = stamped.versionBlock();
    // clang-format off
    const wchar_t* const strings[] = {
        L"CompanyName", L"ACME \u00c9ditions", L"FileDescription", L"Says hello",
        L"FileVersion", L"1.2.3.4", L"ProductName", L"Hello App", L"ProductVersion", L"1.2.3.4",
        L"LegalCopyright", L"(c) 2026 ACME", L"OriginalFilename", L"Hello App.exe",
        L"InternalName", L"Hello App"};
    // clang-format on
    for (std::size_t i = 0; i < std::size(strings); i += 2) {
        EXPECT_EQ(strings[i + 1], versionText(block, strings[i]));
    }
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ((std::vector<DWORD>{0x00010002, 0x00030004, 0x00010002, 0x00030004}),
              (std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS}));
    const ResourceModule module(stamped.exe);
    expectEveryIconLoads(module);
    const std::string manifest = module.get(RT_MANIFEST, 1);
    EXPECT_EQ(ResourceModule(built(GetParam())).get(RT_MANIFEST, 1), manifest);
    EXPECT_NE(std::string::npos, manifest.find("<assembly"));
    DWORD headerSum = 0;
    DWORD computedSum = 1;
    ASSERT_EQ(DWORD(CHECKSUM_SUCCESS),
              MapFileAndCheckSumW(stamped.exe.c_str(), &headerSum, &computedSum));
    EXPECT_EQ(computedSum, headerSum);
}

TEST_P(StampedLauncher, RestampedWithAVersionAloneKeepsOneIconGroupAndStillLaunches) {
    Stamped stamped;
    stampLauncher(built(GetParam()), stamped.exe, {L"", built(L"pe-test.ico"), L"", L"", L"", L""});
    stampLauncher(stamped.exe, stamped.exe, {L"", L"", L"2.5", L"", L"", L""});
    const std::vector<char> block = stamped.versionBlock();
    EXPECT_EQ(L"2.5", versionText(block, L"ProductVersion"));
    EXPECT_EQ(L"HelloApp", versionText(block, L"FileDescription"));
    EXPECT_EQ(L"HelloApp.exe", versionText(block, L"OriginalFilename"));
    EXPECT_EQ(L"(none)", versionText(block, L"CompanyName"));
    {
        const ResourceModule module(stamped.exe);
        EXPECT_EQ((std::vector<int>{1, 4, 1}),
                  (std::vector<int>{module.count(RT_GROUP_ICON), module.count(RT_ICON),
                                    module.count(RT_VERSION)}));
        expectEveryIconLoads(module);
    }
    testruntime::install(FileUtils::joinPath(stamped.dir.path(), L"runtime"));
    testsupport::makeDirectories(FileUtils::joinPath(stamped.dir.path(), L"app"));
    testsupport::writeFile(FileUtils::PathBuilder()
                               << stamped.dir.path() << L"app" << L"HelloApp.cfg",
                           "[Application]\napp.mainclass=hello.Main\n");
    const tstring record = FileUtils::joinPath(stamped.dir.path(), L"record.txt");
    const testsupport::ChildResult result =
        testsupport::runChild(stamped.exe, {L"a b"},
                              {{L"VANTREL_TEST_RECORD", record}, {L"VANTREL_DEBUG", std::nullopt}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const auto fields = jlirecord::parse(testsupport::readFile(record));
    EXPECT_EQ("1", fields.at("exportsGetAPI"));
    EXPECT_EQ(
        (std::vector<std::string>{"4", "hello.Main", "a b"}),
        (std::vector<std::string>{fields.at("argc"), fields.at("argv[2]"), fields.at("argv[3]")}));
}
