// The stamping of the real launcher, read back through the system's own resource, version
// and icon calls, and the stamped launcher still starting an application.
#include <gtest/gtest.h>

#include "WinApi.h"

#include <imagehlp.h>
#include <memory>
#include <optional>
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

struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};

// A launcher's resources, as Explorer reads them: loaded as data, never run.
class ResourceModule {
public:
    explicit ResourceModule(const tstring& path)
        : module(LoadLibraryExW(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
        EXPECT_NE(nullptr, module.get()) << GetLastError();
    }
    HMODULE get() const { return module.get(); }

    std::optional<std::string> resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = FindResourceW(module.get(), name, type);
        if (found == nullptr) {
            return std::nullopt;
        }
        const char* data =
            static_cast<const char*>(LockResource(LoadResource(module.get(), found)));
        return std::string(data, SizeofResource(module.get(), found));
    }

    int count(LPCWSTR type) const {
        int names = 0;
        EnumResourceNamesW(
            module.get(), type,
            [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR counter) -> BOOL {
                ++*reinterpret_cast<int*>(counter);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&names));
        return names;
    }

private:
    std::unique_ptr<std::remove_pointer<HMODULE>::type, ModuleFreer> module;
};

class VersionInfo {
public:
    explicit VersionInfo(const tstring& path) {
        DWORD ignored = 0;
        block.resize(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        EXPECT_TRUE(!block.empty() &&
                    GetFileVersionInfoW(path.c_str(), 0, DWORD(block.size()), block.data()));
    }
    std::optional<tstring> text(const tstring& key) const {
        void* value = nullptr;
        UINT length = 0;
        const tstring path = L"\\StringFileInfo\\040904B0\\" + key;
        if (!VerQueryValueW(block.data(), path.c_str(), &value, &length)) {
            return std::nullopt;
        }
        return tstring(static_cast<const wchar_t*>(value));
    }
    VS_FIXEDFILEINFO fixed() const {
        void* value = nullptr;
        UINT length = 0;
        EXPECT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
        return *static_cast<const VS_FIXEDFILEINFO*>(value);
    }

private:
    std::vector<char> block;
};

// Every image of the group loads as the size its entry announces.
void expectEveryIconLoads(const ResourceModule& module) {
    const std::optional<std::string> group = module.resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_TRUE(group.has_value());
    auto* directory = reinterpret_cast<BYTE*>(const_cast<char*>(group->data()));
    const int count = *reinterpret_cast<const WORD*>(directory + 4);
    ASSERT_EQ(4, count);
    for (int i = 0; i < count; ++i) {
        const int size = directory[6 + 14 * i] == 0 ? 256 : directory[6 + 14 * i];
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        const std::optional<std::string> bits = module.resource(RT_ICON, MAKEINTRESOURCEW(id));
        ASSERT_TRUE(bits.has_value()) << size;
        HICON icon = CreateIconFromResourceEx(
            reinterpret_cast<BYTE*>(const_cast<char*>(bits->data())), DWORD(bits->size()), TRUE,
            0x00030000, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(nullptr, icon) << size;
        ICONINFO info{};
        BITMAP bitmap{};
        EXPECT_TRUE(GetIconInfo(icon, &info));
        GetObjectW(info.hbmMask, sizeof(bitmap), &bitmap);
        EXPECT_EQ(size, bitmap.bmWidth);
        DeleteObject(info.hbmMask);
        DeleteObject(info.hbmColor);
        DestroyIcon(icon);
    }
    HANDLE large = LoadImageW(module.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, 0);
    EXPECT_NE(nullptr, large);
    DestroyIcon(static_cast<HICON>(large));
}

struct Stamped {
    testsupport::TempDir dir;
    tstring exe = FileUtils::joinPath(dir.path(), L"HelloApp.exe");
};

} // namespace

TEST(StampedLauncher, ShowsItsVersionAndIconsAndKeepsItsManifestAndChecksum) {
    Stamped stamped;
    stampLauncher(built(L"vantrel.exe"), stamped.exe,
                  {L"Hello App", built(L"pe-test.ico"), L"1.2.3.4", L"ACME \u00c9ditions",
                   L"Says hello", L"(c) 2026 ACME"});
    const VersionInfo info(stamped.exe);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", L"ACME \u00c9ditions"},
        {L"FileDescription", L"Says hello"},
        {L"FileVersion", L"1.2.3.4"},
        {L"ProductName", L"Hello App"},
        {L"ProductVersion", L"1.2.3.4"},
        {L"LegalCopyright", L"(c) 2026 ACME"},
        {L"OriginalFilename", L"Hello App.exe"},
        {L"InternalName", L"Hello App"}};
    for (const auto& entry : strings) {
        EXPECT_EQ(tstring(entry.second), info.text(entry.first).value_or(L"(none)"))
            << tstrings::toUtf8(entry.first);
    }
    const VS_FIXEDFILEINFO fixed = info.fixed();
    EXPECT_EQ((std::vector<DWORD>{0x00010002, 0x00030004, 0x00010002, 0x00030004}),
              (std::vector<DWORD>{fixed.dwFileVersionMS, fixed.dwFileVersionLS,
                                  fixed.dwProductVersionMS, fixed.dwProductVersionLS}));
    const ResourceModule module(stamped.exe);
    expectEveryIconLoads(module);
    const auto manifest = module.resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_EQ(ResourceModule(built(L"vantrel.exe")).resource(RT_MANIFEST, MAKEINTRESOURCEW(1)),
              manifest);
    EXPECT_NE(std::string::npos, manifest.value_or("").find("<assembly"));
    DWORD headerSum = 0;
    DWORD computedSum = 1;
    ASSERT_EQ(DWORD(CHECKSUM_SUCCESS),
              MapFileAndCheckSumW(stamped.exe.c_str(), &headerSum, &computedSum));
    EXPECT_EQ(computedSum, headerSum);
}

TEST(StampedLauncher, RestampingWithOnlyAVersionKeepsOneIconGroupAndDefaultsTheStrings) {
    Stamped stamped;
    stampLauncher(built(L"vantrel.exe"), stamped.exe,
                  {L"", built(L"pe-test.ico"), L"", L"", L"", L""});
    stampLauncher(stamped.exe, stamped.exe, {L"", L"", L"2.5", L"", L"", L""});
    const VersionInfo info(stamped.exe);
    EXPECT_EQ(0x00020005u, info.fixed().dwFileVersionMS);
    EXPECT_EQ(L"2.5", info.text(L"ProductVersion").value_or(L""));
    EXPECT_EQ(L"HelloApp", info.text(L"FileDescription").value_or(L""));
    EXPECT_EQ(L"HelloApp.exe", info.text(L"OriginalFilename").value_or(L""));
    EXPECT_FALSE(info.text(L"CompanyName").has_value());
    const ResourceModule module(stamped.exe);
    EXPECT_EQ(1, module.count(RT_GROUP_ICON));
    EXPECT_EQ(4, module.count(RT_ICON));
    EXPECT_EQ(1, module.count(RT_VERSION));
    expectEveryIconLoads(module);
}

TEST(StampedLauncher, StillLaunchesTheApplicationWithItsFunctionTable) {
    Stamped stamped;
    stampLauncher(built(L"vantrel.exe"), stamped.exe,
                  {L"", built(L"pe-test.ico"), L"1", L"", L"", L""});
    testruntime::install(FileUtils::joinPath(stamped.dir.path(), L"runtime"));
    const tstring appDir = FileUtils::joinPath(stamped.dir.path(), L"app");
    testsupport::makeDirectories(appDir);
    testsupport::writeFile(FileUtils::joinPath(appDir, L"HelloApp.cfg"),
                           "[Application]\napp.mainclass=hello.Main\n");
    const tstring record = FileUtils::joinPath(stamped.dir.path(), L"record.txt");
    const testsupport::ChildResult result =
        testsupport::runChild(stamped.exe, {L"a b"},
                              {{L"VANTREL_TEST_RECORD", record}, {L"VANTREL_DEBUG", std::nullopt}});
    ASSERT_EQ(0u, result.exitCode) << result.err;
    const auto fields = jlirecord::parse(testsupport::readFile(record));
    EXPECT_EQ("1", fields.at("exportsGetAPI"));
    EXPECT_EQ("hello.Main", fields.at("argv[2]"));
    EXPECT_EQ("a b", fields.at("argv[3]"));
}
