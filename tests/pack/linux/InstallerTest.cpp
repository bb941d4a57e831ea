// The Windows installer that the Linux vantrel-pack makes, installed, upgraded and removed by
// Wine's msiexec, with the Windows build's launcher and stand-in runtime.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FileUtils.h"
#include "PackFiles.h"
#include "TestSupport.h"
#include "Toolbox.h"
#include "UserCache.h"

using testsupport::ChildResult;

namespace {

const testsupport::EnvChanges wineEnv = {{L"WINEDEBUG", L"-all"}};

tstring windowsBuild(const tstring& path) {
    return FileUtils::joinPath(tstrings::fromUtf8(VANTREL_WINDOWS_BUILD), path);
}

tstring envOr(const char* name, const tstring& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? tstrings::fromUtf8(value) : fallback;
}

// What a Windows program sees as C:\ and the user's profile, on the Linux side.
tstring driveC(const tstring& path) {
    return FileUtils::joinPath(
        FileUtils::joinPath(envOr("WINEPREFIX", envOr("HOME", L"/root") + L"/.wine"), L"drive_c"),
        path);
}

tstring userProfile(const tstring& path) {
    return driveC(L"users/" + envOr("USER", L"root") + L"/" + path);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// UTF-16 bytes (a registry export, a shortcut) and UTF-8 text.
std::string fromUtf16Bytes(const std::string& bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(&units[0], bytes.data(), units.size() * 2);
    return tstrings::toUtf8(tstrings::fromUtf16(units));
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n');; start = end + 1, end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return lines;
        }
    }
}

std::string utf16Bytes(const std::string& text) {
    const std::u16string units = tstrings::toUtf16(tstrings::fromUtf8(text));
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

class Installers : public ::testing::Test {
protected:
    void SetUp() override {
        for (const tstring& needed :
             {windowsBuild(L"bin/vantrel.exe"), windowsBuild(L"testruntime/bin/jli.dll"),
              tstring(L"/usr/bin/wine")}) {
            if (!PackFiles::exists(needed)) {
                GTEST_SKIP() << tstrings::toUtf8(needed) << " is missing: build the windows preset";
            }
        }
        testsupport::makeDirectories(path(L"in"));
        testsupport::writeFile(path(L"in/app.jar"), "");
    }

    tstring path(const tstring& name) const { return FileUtils::joinPath(dir.path(), name); }

    ChildResult pack(const tstring& name, const tstring& version, const tstring_array& options,
                     const testsupport::EnvChanges& env = {},
                     const tstring& dest = tstring()) const {
        tstring_array args = {L"--name",        name,
                              L"--input",       path(L"in"),
                              L"--dest",        dest.empty() ? path(L"out") : dest,
                              L"--main-jar",    L"app.jar",
                              L"--main-class",  L"app.Main",
                              L"--target",      L"windows",
                              L"--launcher",    windowsBuild(L"bin/vantrel.exe"),
                              L"--runtime",     windowsBuild(L"testruntime"),
                              L"--type",        L"msi",
                              L"--app-version", version,
                              L"--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args, env);
    }

    // msiexec returns before its service has finished: wait for the Wine server.
    std::uint32_t msiexec(const tstring& action, const tstring& msi) const {
        const ChildResult result = testsupport::runChild(
            L"/usr/bin/wine", {L"msiexec", action, FileUtils::lastComponent(msi), L"/qn"}, wineEnv,
            FileUtils::parentPath(msi));
        testsupport::runChild(L"/usr/bin/wineserver", {L"-w"}, wineEnv);
        return result.exitCode;
    }

    // Packs the input with a test runtime: for Windows for msi, else for Linux.
    ChildResult packAs(const tstring& type, const tstring& input, const tstring& dest,
                       const tstring_array& options, const testsupport::EnvChanges& env) const {
        tstring_array args = {L"--input",    input,      L"--dest",       dest,
                              L"--main-jar", L"app.jar", L"--main-class", L"app.Main",
                              L"--type",     type,       L"--quiet"};
        if (type == L"msi") {
            args.insert(args.end(),
                        {L"--target", L"windows", L"--launcher", windowsBuild(L"bin/vantrel.exe"),
                         L"--runtime", windowsBuild(L"testruntime")});
        } else {
            testsupport::makeDirectories(path(L"rt/lib"));
            testsupport::writeFile(path(L"rt/lib/libjli.so"), "");
            args.insert(args.end(), {L"--runtime", path(L"rt")});
        }
        if (type == L"deb" || type == L"rpm") {
            args.insert(args.end(), {L"--linux-package-name", L"vt-names", L"--desktop-entry"});
        }
        args.insert(args.end(), options.begin(), options.end());
        // In a folder of its own, where it must leave nothing.
        testsupport::makeDirectories(path(L"cwd"));
        return testsupport::runChild(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
                                     args, env, path(L"cwd"));
    }

    // Wine's reg failed now and then on fresh CI machines (an export once, a query once), never
    // here: one more try after the server has ended, and what Wine said when both fail.
    ChildResult wineReg(const tstring_array& args) const {
        tstring_array command = {L"reg"};
        command.insert(command.end(), args.begin(), args.end());
        ChildResult result{};
        for (int attempt = 0; attempt < 2; ++attempt) {
            result = testsupport::runChild(L"/usr/bin/wine", command, {{L"WINEDEBUG", L"err+all"}});
            testsupport::runChild(L"/usr/bin/wineserver", {L"-w"}, wineEnv);
            if (result.exitCode == 0) {
                return result;
            }
        }
        ADD_FAILURE() << "reg " << tstrings::toUtf8(args.front()) << ": exit " << result.exitCode
                      << ": " << result.out << result.err;
        return result;
    }

    // A key as a registry export (UTF-16) holds it, exactly; empty when the export failed.
    std::string registryExport(const tstring& key) const {
        const tstring file = path(L"export.reg");
        std::filesystem::remove(PackFiles::fsPath(file));
        wineReg({L"export", key, L"Z:" + tstrings::replace(file, L"/", L"\\"), L"/y"});
        return PackFiles::isFile(file) ? fromUtf16Bytes(testsupport::readFile(file))
                                       : std::string();
    }

    std::string uninstallExport() const {
        return registryExport(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    }

    std::string uninstallEntries() const {
        return testsupport::withUnixLineEnds(
            wineReg(
                {L"query", L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", L"/s"})
                .out);
    }

    void makeCertificate() const {
        const ChildResult key = testsupport::runChild(
            L"/usr/bin/openssl",
            {L"req", L"-x509", L"-newkey", L"rsa:2048", L"-keyout", path(L"key.pem"), L"-out",
             path(L"cert.pem"), L"-days", L"2", L"-nodes", L"-subj", L"/CN=Vantrel Test"});
        ASSERT_EQ(key.exitCode, 0u) << key.err;
        const ChildResult p12 = testsupport::runChild(
            L"/usr/bin/openssl",
            {L"pkcs12", L"-export", L"-out", path(L"cert.p12"), L"-inkey", path(L"key.pem"), L"-in",
             path(L"cert.pem"), L"-passout", L"pass:s3cret"});
        ASSERT_EQ(p12.exitCode, 0u) << p12.err;
    }

    std::uint32_t verify(const tstring& file) const {
        return testsupport::runChild(L"/usr/bin/osslsigncode",
                                     {L"verify", L"-CAfile", path(L"cert.pem"), L"-in", file})
            .exitCode;
    }

    // A folder of programs that stand in for tools, each a shell script.
    tstring toolsWith(const std::string& tool, const std::string& script) const {
        const tstring tools = path(L"tools");
        testsupport::makeDirectories(tools);
        const tstring program = FileUtils::joinPath(tools, tstrings::fromUtf8(tool));
        testsupport::writeFile(program, "#!/bin/sh\n" + script + "\n");
        std::filesystem::permissions(PackFiles::fsPath(program), std::filesystem::perms::owner_all);
        return tools + L":/usr/bin:/bin";
    }

    // Every file below dir that holds text.
    std::vector<std::string> filesHolding(const tstring& dir, const std::string& text) const {
        std::vector<std::string> found;
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(PackFiles::fsPath(dir), error), end;
             !error && it != end; it.increment(error)) {
            if (it->is_regular_file() &&
                contains(testsupport::readFile(PackFiles::fromFsPath(it->path())), text)) {
                found.push_back(it->path().string());
            }
        }
        return found;
    }

    tstring makeInput(const tstring& name, const std::vector<std::string>& files) const {
        const tstring input = path(name);
        testsupport::makeDirectories(input);
        testsupport::writeFile(FileUtils::joinPath(input, L"app.jar"), "");
        for (const std::string& file : files) {
            const std::size_t slash = file.rfind('/');
            if (slash != std::string::npos) {
                testsupport::makeDirectories(input + L"/" +
                                             tstrings::fromUtf8(file.substr(0, slash)));
            }
            // Bytes as they are: some names aren't UTF-8.
            std::ofstream(tstrings::toUtf8(input) + "/" + file).put('x');
        }
        return input;
    }

    // Refused before anything is built: one line, and DEST never made.
    void expectRefused(const tstring& type, const std::string& option,
                       const std::vector<std::string>& files, const std::string& text,
                       const std::string& refusal, const testsupport::EnvChanges& env) {
        SCOPED_TRACE(tstrings::toUtf8(type) + " " + option + " " + text);
        const tstring input = makeInput(type + L"-refused" + std::to_wstring(++refusedRuns), files);
        tstring_array options = {L"--name",
                                 option == "--name" ? tstrings::fromUtf8(text) : L"Refused"};
        if (!option.empty() && option != "--name") {
            options.insert(options.end(), {tstrings::fromUtf8(option), tstrings::fromUtf8(text)});
        }
        const tstring dest = path(L"refused");
        const ChildResult result = packAs(type, input, dest, options, env);
        const std::string usage =
            option.empty() ? ""
                           : "\nUsage: vantrel-pack --name NAME --input DIR --dest DIR "
                             "[options]\nTry 'vantrel-pack --help' for more information.";
        EXPECT_EQ(result.exitCode, option.empty() ? 1u : 2u);
        EXPECT_EQ(result.err, "vantrel-pack: " + refusal + usage + "\n");
        EXPECT_FALSE(PackFiles::exists(dest));
    }

    // The summary holds the name exactly; no environment variable's value is in the installer.
    // A copy of it, under a plain name, waits in batch/ to be installed with the others.
    void expectMsiExactly(const tstring& msi, const std::string& name, const std::string& secret,
                          tstring_array& batch) const {
        EXPECT_FALSE(contains(testsupport::readFile(msi), secret));
        const std::string summary =
            testsupport::runChild(L"/usr/bin/msiinfo", {L"suminfo", msi}).out;
        EXPECT_TRUE(contains(summary, "Subject: " + name + "\nAuthor: " + name + "\n")) << summary;
        testsupport::makeDirectories(path(L"batch"));
        batch.push_back(path(L"batch/n" + std::to_wstring(batch.size()) + L".msi"));
        PackFiles::copyFile(msi, batch.back());
    }

    // Every installer in one Wine session: each start of Wine costs seconds.
    std::uint32_t msiexecAll(const tstring& action, const tstring_array& msis) const {
        tstring commands;
        for (const tstring& msi : msis) {
            commands += (commands.empty() ? L"" : L" && ") + tstring(L"msiexec ") + action + L" " +
                        FileUtils::lastComponent(msi) + L" /qn";
        }
        const ChildResult result = testsupport::runChild(
            L"/usr/bin/wine", {L"cmd", L"/c", commands}, wineEnv, path(L"batch"));
        testsupport::runChild(L"/usr/bin/wineserver", {L"-w"}, wineEnv);
        return result.exitCode;
    }

    // Add/Remove Programs, Program Files and the shortcuts show each name exactly.
    void expectInstalledExactly(const tstring_array& msis, const std::vector<std::string>& names,
                                const std::vector<std::string>& files) {
        const AtEndOfScope uninstall([&] { msiexecAll(L"/x", msis); });
        ASSERT_EQ(msiexecAll(L"/i", msis), 0u);
        const std::string entries = uninstallExport();
        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(contains(entries, "\"DisplayName\"=\"" + name + "\"\r\n")) << entries;
            EXPECT_TRUE(contains(entries, "\"Publisher\"=\"" + name + "\"\r\n"));
            const tstring installed = driveC(L"Program Files/" + tstrings::fromUtf8(name));
            EXPECT_TRUE(PackFiles::isFile(installed + L"/" + tstrings::fromUtf8(name) + L".exe"));
            for (const std::string& file : files) {
                EXPECT_TRUE(PackFiles::isFile(installed + L"/app/" + tstrings::fromUtf8(file)))
                    << file;
            }
            const tstring shortcut =
                userProfile(L"AppData/Roaming/Microsoft/Windows/Start Menu/Programs/" +
                            tstrings::fromUtf8(name) + L".lnk");
            EXPECT_TRUE(contains(testsupport::readFile(shortcut), utf16Bytes(name + ".exe")));
        }
        EXPECT_EQ(msiexecAll(L"/x", msis), 0u);
        const std::string left = uninstallExport();
        for (const std::string& name : names) {
            EXPECT_FALSE(contains(left, name)) << name;
        }
    }

    void expectUnzippedExactly(const tstring& zip, const std::string& name,
                               const std::vector<std::string>& files) const {
        const tstring unpacked = path(L"unzipped");
        const AtEndOfScope clean([&] { std::filesystem::remove_all(PackFiles::fsPath(unpacked)); });
        const ChildResult result =
            testsupport::runChild(L"/usr/bin/unzip", {L"-q", zip, L"-d", unpacked});
        ASSERT_EQ(result.exitCode, 0u) << result.err;
        const tstring top = unpacked + L"/" + tstrings::fromUtf8(name);
        EXPECT_TRUE(PackFiles::isFile(top + L"/" + tstrings::fromUtf8(name)));
        for (const std::string& file : files) {
            EXPECT_TRUE(PackFiles::isFile(top + L"/app/" + tstrings::fromUtf8(file))) << file;
        }
    }

    // The control file, the desktop entry and the files hold the name exactly.
    void expectDebExactly(const tstring& deb, const std::string& name,
                          const std::vector<std::string>& files) const {
        const std::string fields =
            testsupport::runChild(L"/usr/bin/dpkg-deb", {L"--field", deb}).out;
        EXPECT_TRUE(contains(fields, "\nMaintainer: " + name + "\n")) << fields;
        EXPECT_TRUE(contains(fields, "\nDescription: " + name + "\n")) << fields;
        const tstring unpacked = path(L"unpacked");
        const AtEndOfScope clean([&] { std::filesystem::remove_all(PackFiles::fsPath(unpacked)); });
        ASSERT_EQ(testsupport::runChild(L"/usr/bin/dpkg-deb", {L"-x", deb, unpacked}).exitCode, 0u);
        EXPECT_TRUE(
            contains(testsupport::readFile(unpacked + L"/usr/share/applications/vt-names.desktop"),
                     "\nName=" + name + "\nComment=" + name + "\n"));
        const tstring top = unpacked + L"/opt/vt-names";
        EXPECT_TRUE(PackFiles::isFile(top + L"/" + tstrings::fromUtf8(name)));
        for (const std::string& file : files) {
            EXPECT_TRUE(PackFiles::isFile(top + L"/app/" + tstrings::fromUtf8(file))) << file;
        }
    }

    // The header and the file list hold the name exactly: no macro of rpm's expanded.
    void expectRpmExactly(const tstring& rpm, const std::string& name,
                          const std::vector<std::string>& files) const {
        const std::string header =
            testsupport::runChild(
                L"/usr/bin/rpm",
                {L"-qp", L"--qf", L"%{PACKAGER}|%{VENDOR}|%{SUMMARY}|%{DESCRIPTION}", rpm},
                {{L"HOME", dir.path()}})
                .out;
        EXPECT_EQ(header, name + "|" + name + "|" + name + "|" + name);
        const std::string list =
            testsupport::runChild(L"/usr/bin/rpm", {L"-qpl", rpm}, {{L"HOME", dir.path()}}).out;
        EXPECT_TRUE(contains(list, "\n/opt/vt-names/" + name + "\n")) << list;
        for (const std::string& file : files) {
            EXPECT_TRUE(contains(list, "\n/opt/vt-names/app/" + file + "\n")) << file << list;
        }
    }

    testsupport::TempDir dir;
    int refusedRuns = 0;
};

TEST_F(Installers, InstallUpgradeRefusedDowngradeAndUninstall) {
    makeCertificate();
    const testsupport::EnvChanges password = {{L"VT_SIGN_PASSWORD", L"s3cret"}};
    const tstring_array signing = {L"--sign-pkcs12", path(L"cert.p12"), L"--sign-password-env",
                                   L"VT_SIGN_PASSWORD"};
    tstring_array options = {L"--vendor", L"Us & Co", L"--desktop-shortcut", L"--icon",
                             FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico")};
    options.insert(options.end(), signing.begin(), signing.end());
    for (const tstring version : {L"1.0", L"2.0"}) {
        const ChildResult packed = pack(L"VtPkgTest", version, options, password);
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        EXPECT_EQ(packed.err, "");
    }
    const tstring v1 = path(L"out/VtPkgTest-1.0.msi");
    const tstring v2 = path(L"out/VtPkgTest-2.0.msi");
    EXPECT_EQ(verify(v1), 0u);
    ASSERT_EQ(testsupport::runChild(L"/usr/bin/msiextract", {L"-C", path(L"x"), v1}).exitCode, 0u);
    EXPECT_EQ(verify(path(L"x/VtPkgTest/VtPkgTest.exe")), 0u);
    const std::string properties =
        testsupport::runChild(L"/usr/bin/msiinfo", {L"export", v1, L"Property"}).out;
    EXPECT_TRUE(contains(properties, "ARPPRODUCTICON\tAppIcon.ico")) << properties;
    const std::string conditions =
        testsupport::runChild(L"/usr/bin/msiinfo", {L"export", v1, L"LaunchCondition"}).out;
    EXPECT_TRUE(contains(conditions, "A newer version of VtPkgTest is already installed."))
        << conditions;

    tstring installedMsi = v2;
    const AtEndOfScope uninstall([&] { msiexec(L"/x", installedMsi); });
    const tstring installed = driveC(L"Program Files/VtPkgTest");
    const tstring startMenu =
        userProfile(L"AppData/Roaming/Microsoft/Windows/Start Menu/Programs/VtPkgTest.lnk");
    const tstring desktop = userProfile(L"Desktop/VtPkgTest.lnk");
    ASSERT_EQ(msiexec(L"/i", v1), 0u);
    for (const tstring& file :
         {FileUtils::joinPath(installed, L"VtPkgTest.exe"),
          FileUtils::joinPath(installed, L"app/VtPkgTest.cfg"),
          FileUtils::joinPath(installed, L"runtime/bin/jli.dll"), startMenu, desktop}) {
        EXPECT_TRUE(PackFiles::isFile(file)) << tstrings::toUtf8(file);
    }
    const std::string v1Entries = uninstallEntries();
    EXPECT_EQ(count(v1Entries, "DisplayName    REG_SZ    VtPkgTest\n"), 1u) << v1Entries;
    EXPECT_TRUE(contains(v1Entries, "DisplayVersion    REG_SZ    1.0.0\n"));
    EXPECT_TRUE(contains(v1Entries, "Publisher    REG_SZ    Us & Co\n"));

    const ChildResult run = testsupport::runChild(
        L"/usr/bin/wine", {L"C:\\Program Files\\VtPkgTest\\VtPkgTest.exe", L"a b"},
        {{L"WINEDEBUG", L"-all"},
         {L"VANTREL_TEST_RECORD", L"Z:" + tstrings::replace(path(L"record.txt"), L"/", L"\\")},
         {L"VANTREL_TEST_EXIT", L"5"}});
    EXPECT_EQ(run.exitCode, 5u) << run.err;
    const std::string record = testsupport::readFile(path(L"record.txt"));
    EXPECT_TRUE(contains(record, "C:\\Program Files\\VtPkgTest\\app\\app.jar")) << record;

    ASSERT_EQ(msiexec(L"/i", v2), 0u);
    const std::string v2Entries = uninstallEntries();
    EXPECT_EQ(count(v2Entries, "DisplayName    REG_SZ    VtPkgTest\n"), 1u) << v2Entries;
    EXPECT_TRUE(contains(v2Entries, "DisplayVersion    REG_SZ    2.0.0\n"));
    EXPECT_NE(msiexec(L"/i", v1), 0u);
    EXPECT_TRUE(contains(uninstallEntries(), "DisplayVersion    REG_SZ    2.0.0\n"));

    // The same version rebuilt, another fourth number, a release after its snapshot: each
    // replaces the one installed, files included.
    const std::pair<tstring, std::string> versions[] = {{L"2.0", "2.0.0"},
                                                        {L"2.0.0.1", "2.0.0.1"},
                                                        {L"2.0.1-SNAPSHOT", "2.0.1"},
                                                        {L"2.0.1", "2.0.1"}};
    for (const auto& version : versions) {
        SCOPED_TRACE(tstrings::toUtf8(version.first));
        testsupport::writeFile(path(L"in/build.txt"), tstrings::toUtf8(version.first));
        const tstring dest = path(L"rebuilt-" + version.first);
        ASSERT_EQ(pack(L"VtPkgTest", version.first, {L"--vendor", L"Us & Co"}, {}, dest).exitCode,
                  0u);
        installedMsi = FileUtils::joinPath(dest, L"VtPkgTest-" + version.first + L".msi");
        ASSERT_EQ(msiexec(L"/i", installedMsi), 0u);
        const std::string entries = uninstallEntries();
        EXPECT_EQ(count(entries, "DisplayName    REG_SZ    VtPkgTest\n"), 1u) << entries;
        EXPECT_TRUE(contains(entries, "DisplayVersion    REG_SZ    " + version.second + "\n"));
        EXPECT_EQ(testsupport::readFile(FileUtils::joinPath(installed, L"app/build.txt")),
                  tstrings::toUtf8(version.first));
    }

    EXPECT_EQ(msiexec(L"/x", installedMsi), 0u);
    EXPECT_FALSE(contains(uninstallEntries(), "VtPkgTest"));
    for (const tstring& gone : {installed, startMenu, desktop}) {
        EXPECT_FALSE(PackFiles::exists(gone)) << tstrings::toUtf8(gone);
    }
}

// Per machine: Wine 8 shows no program the classes of a per-user install. Opening a file of the
// type and a link of the scheme starts the installed application with it as its last argument;
// the windowed extra launcher has its resources and shortcut and runs its own class; removing
// takes every key away.
TEST_F(Installers, FileTypesLinksAndAWindowedLauncherOfAnInstallation) {
    const tstring_array options = {
        L"--file-type",    L"vtdoc:application/x-vtdoc:Vt document",
        L"--url-scheme",   L"vtlink",
        L"--add-launcher", L"Vt Tool:tool.Main:gui",
        L"--icon",         FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico")};
    ASSERT_EQ(pack(L"VtDesk", L"1.2.3", options).exitCode, 0u);
    const tstring msi = path(L"out/VtDesk-1.2.3.msi");
    const AtEndOfScope uninstall([&] { msiexec(L"/x", msi); });
    ASSERT_EQ(msiexec(L"/i", msi), 0u);
    const auto classes = [&] { return registryExport(L"HKLM\\Software\\Classes"); };
    const std::string command =
        "@=\"\\\"C:\\\\Program Files\\\\VtDesk\\\\VtDesk.exe\\\" \\\"%1\\\"\"\r\n";
    const std::string keys[] = {
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.vtdoc]\r\n@=\"VtDesk.vtdoc\"\r\n\"Content "
        "Type\"=\"application/x-vtdoc\"\r\n",
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\VtDesk.vtdoc]\r\n@=\"Vt document\"\r\n",
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\VtDesk.vtdoc\\shell\\open\\command]\r\n" + command,
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\vtlink]\r\n@=\"URL:VtDesk\"\r\n\"URL "
        "Protocol\"=\"\"\r\n",
        "[HKEY_LOCAL_MACHINE\\Software\\Classes\\vtlink\\shell\\open\\command]\r\n" + command};
    const std::string registered = classes();
    for (const std::string& key : keys) {
        EXPECT_TRUE(contains(registered, key)) << key;
    }

    const tstring document = path(L"a b.vtdoc");
    testsupport::writeFile(document, "");
    const auto started = [&](const tstring_array& args) {
        const tstring record = path(L"started.txt");
        std::filesystem::remove(PackFiles::fsPath(record));
        testsupport::runChild(
            L"/usr/bin/wine", args,
            {{L"WINEDEBUG", L"-all"},
             {L"VANTREL_TEST_RECORD", L"Z:" + tstrings::replace(record, L"/", L"\\")}});
        testsupport::runChild(L"/usr/bin/wineserver", {L"-w"}, wineEnv);
        return testsupport::readFile(record);
    };
    const std::string opened = started({L"start", L"/wait", L"/unix", document});
    EXPECT_TRUE(contains(opened, "argv[0]=C:\\Program Files\\VtDesk\\VtDesk.exe\n")) << opened;
    EXPECT_TRUE(contains(opened, "=app.Main\nargv[5]=Z:" +
                                     tstrings::toUtf8(tstrings::replace(document, L"/", L"\\")) +
                                     "\nargv[argc]=null\n"))
        << opened;
    const std::string linked = started({L"cmd", L"/c", L"start", L"/wait", L"vtlink:open?id=1"});
    EXPECT_TRUE(contains(linked, "=app.Main\nargv[5]=vtlink:open?id=1\nargv[argc]=null\n"))
        << linked;

    const tstring tool = driveC(L"Program Files/VtDesk/Vt Tool.exe");
    const std::string exe = testsupport::readFile(tool);
    ASSERT_GT(exe.size(), 0x200u);
    // The windowed subsystem (2), in the optional header of a PE32+ file.
    const std::uint32_t peHeader = *reinterpret_cast<const std::uint32_t*>(&exe[0x3C]);
    EXPECT_EQ(exe[peHeader + 0x5C], 2);
    EXPECT_TRUE(contains(exe, utf16Bytes("Vt Tool")) && contains(exe, utf16Bytes("1.2.3")));
    const tstring shortcut =
        userProfile(L"AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Vt Tool.lnk");
    EXPECT_TRUE(contains(testsupport::readFile(shortcut), utf16Bytes("Vt Tool.exe")));
    EXPECT_TRUE(contains(started({L"C:\\Program Files\\VtDesk\\Vt Tool.exe", L"x"}),
                         "=tool.Main\nargv[5]=x\n"));

    EXPECT_EQ(msiexec(L"/x", msi), 0u);
    const std::string left = classes();
    for (const char* gone : {"vtdoc", "VtDesk", "vtlink"}) {
        EXPECT_FALSE(contains(left, gone)) << gone;
    }
}

// The password reaches osslsigncode through a pipe, in no file, even under umask 000; when the
// tool is killed while it signs, nothing of the password is left where it wrote.
TEST_F(Installers, SigningPasswordIsInNoFileEvenWhenKilled) {
    makeCertificate();
    const tstring record = path(L"record");
    const tstring tmp = path(L"tmp");
    testsupport::makeDirectories(tmp);
    const tstring tools = toolsWith(
        "osslsigncode", "for a; do [ \"$prev\" = -readpass ] && pass=\"$a\"; prev=\"$a\"; done\n"
                        "[ -p \"$pass\" ] && echo pipe >> '" +
                            tstrings::toUtf8(record) +
                            "'\n"
                            "[ -n \"$VT_KILL\" ] && kill -KILL $PPID && exit 1\n"
                            "exec /usr/bin/osslsigncode \"$@\"");
    const tstring_array signing = {L"--sign-pkcs12", path(L"cert.p12"), L"--sign-password-env",
                                   L"VT_PW"};
    const mode_t umaskBefore = umask(0);
    const AtEndOfScope restoreUmask([&] { umask(umaskBefore); });
    const ChildResult packed = pack(L"Signed", L"1.0", signing,
                                    {{L"VT_PW", L"s3cret"}, {L"PATH", tools}, {L"TMPDIR", tmp}});
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    EXPECT_EQ(testsupport::readFile(record), "pipe\npipe\n");
    EXPECT_EQ(verify(path(L"out/Signed-1.0.msi")), 0u);

    const ChildResult killed =
        pack(L"Killed", L"1.0", signing,
             {{L"VT_PW", L"s3cret"}, {L"PATH", tools}, {L"TMPDIR", tmp}, {L"VT_KILL", L"1"}});
    EXPECT_EQ(killed.exitCode, 137u) << killed.err;
    // The staging folder that the killed run left holds the launcher it was signing.
    EXPECT_FALSE(filesHolding(path(L"out"), "vantrel").empty());
    EXPECT_EQ(filesHolding(path(L"out"), "s3cret"), std::vector<std::string>());
    EXPECT_EQ(filesHolding(tmp, "s3cret"), std::vector<std::string>());
}

TEST_F(Installers, PerUserInstallAndFailuresThatLeaveNothing) {
    ASSERT_EQ(pack(L"VtPkgUser", L"3.1.4", {L"--per-user"}).exitCode, 0u);
    const tstring msi = path(L"out/VtPkgUser-3.1.4.msi");
    const AtEndOfScope uninstall([&] { msiexec(L"/x", msi); });
    const tstring exe = userProfile(L"AppData/Local/Programs/VtPkgUser/VtPkgUser.exe");
    ASSERT_EQ(msiexec(L"/i", msi), 0u);
    EXPECT_TRUE(PackFiles::isFile(exe)) << tstrings::toUtf8(exe);
    EXPECT_TRUE(contains(uninstallEntries(), "DisplayVersion    REG_SZ    3.1.4\n"));
    EXPECT_EQ(msiexec(L"/x", msi), 0u);
    EXPECT_FALSE(PackFiles::exists(FileUtils::parentPath(exe)));

    makeCertificate();
    const tstring dest = path(L"failed");
    const struct {
        tstring_array options;
        testsupport::EnvChanges env;
        std::string error;
    } cases[] = {
        {{L"--sign-pkcs12", path(L"cert.p12"), L"--sign-password-env", L"VT_PW"},
         {{L"VT_PW", L"wrong"}},
         "cannot sign Failing.exe: osslsigncode failed with exit code 255: Failed to parse "
         "PKCS#12 file: " +
             tstrings::toUtf8(path(L"cert.p12")) + " (Wrong password?)"},
        {{L"--sign-pkcs12", path(L"cert.p12"), L"--sign-password-env", L"VT_PW"},
         {{L"VT_PW", std::nullopt}},
         "the environment variable VT_PW named by --sign-password-env is not set"},
        {{L"--sign-pkcs12", path(L"cert.p12"), L"--sign-password-env", L"VT_PW"},
         {{L"VT_PW", L""}},
         "the environment variable VT_PW named by --sign-password-env is empty"},
        {{},
         {{L"PATH", toolsWith("wixl", "exit 0")}},
         "wixl wrote no whole installer Failing-1.0.msi"},
        {{},
         {{L"PATH", path(L"nothing")}},
         "wixl is needed for --type msi and is not installed (Debian package wixl)"},
    };
    for (const auto& c : cases) {
        const ChildResult result = pack(L"Failing", L"1.0", c.options, c.env, dest);
        EXPECT_EQ(result.exitCode, 1u) << c.error;
        EXPECT_EQ(result.err, "vantrel-pack: " + c.error + "\n");
        EXPECT_FALSE(PackFiles::exists(dest)) << c.error;
    }
}

// One table of names and texts through the installer (installed under Wine), the Debian package,
// the rpm package and the zip (unpacked): each reaches the package exactly, or is refused before
// anything is built, in one line.
TEST_F(Installers, NamesAndTextsReachEveryPackageExactlyOrAreRefused) {
    const std::string secret = "hunter2";
    const testsupport::EnvChanges env = {{L"VT_SECRET", tstrings::fromUtf8(secret)}};
    const auto windows = [](const std::string& shown) {
        return "cannot pack " + shown + " from the input: Windows can't hold that name";
    };
    const auto unzip = [](const std::string& shown) {
        return "cannot pack " + shown +
               " from the input: unzip tools change a name with a backslash or a control "
               "character";
    };
    const std::string notUtf8 = "cannot pack Not\\xFF.txt from the input: its name isn't UTF-8";
    const std::string none = "n/a";
    const std::string rpmComment = "--description must not start with # or % for an rpm package: ";
    // option: --name takes the text as name, vendor and description too (the zip takes the name
    // only); empty: the text names files of the input, one a line. The refusals of the msi, the
    // zip, the deb and the rpm: empty where the text reaches the package.
    const struct {
        std::string option;
        std::string text;
        std::string refusals[4];
    } rows[] = {
        {"--name", "Программа", {"", "", "", ""}},
        {"--name", "Ελληνικά", {"", "", "", ""}},
        {"--name", "日本語アプリ", {"", "", "", ""}},
        {"--name", "Emoji 😀", {"", "", "", ""}},
        {"--name", "$(env.VT_SECRET)", {"", "", "", ""}},
        {"--name", "Costs $(5) only", {"", "", "", ""}},
        {"--name", "App [x] {y}", {"", "", "", ""}},
        {"--name", "100% %{name} %(echo hi)", {"", "", "", ""}},
        {"--name",
         "#1 App",
         {"", "", "",
          "the name \"#1 App\" starts with # or %, which an rpm package's description can't: "
          "give --description"}},
        {"--description", "%files", {"", none, "", rpmComment + "\"%files\""}},
        {"--name", "q?", {"--name is not usable as a file name: \"q?\"", "", "", ""}},
        {"--description",
         "Tab\there",
         {"--description takes no control character (0x09)", none,
          "--description takes no control character (0x09)",
          "--description takes no control character (0x09)"}},
        {"--vendor",
         "Esc \x1b[31m",
         {"--vendor takes no control character (0x1B)", none,
          "--vendor takes no control character (0x1B)",
          "--vendor takes no control character (0x1B)"}},
        {"", "Программа.txt\nΕλληνικά/α.txt\nドキュメント/日本語.txt\na😀.txt", {"", "", "", ""}},
        {"", "$(env.VT_SECRET).txt\n$(5) [x] {y}.txt", {"", "", "", ""}},
        {"", "100% %{name} %(echo hi).txt\n%description", {"", "", "", ""}},
        {"", "q?.txt", {windows("q?.txt"), "", "", ""}},
        {"", "aux.txt", {windows("aux.txt"), "", "", ""}},
        {"", "Dot.", {windows("Dot."), "", "", ""}},
        {"", "a\\b", {windows("a\\b"), unzip("a\\b"), "", ""}},
        {"",
         "Tab\t.txt",
         {windows("Tab\\x09.txt"), unzip("Tab\\x09.txt"), "",
          "cannot pack Tab\\x09.txt from the input: rpm takes no name with a control character"}},
        {"",
         "Case/README\nCase/readme",
         {"cannot pack Case/README from the input beside Case/readme: Windows takes both for "
          "one name",
          "", "", ""}},
        {"", "Not\xff.txt", {notUtf8, notUtf8, notUtf8, notUtf8}},
        {"",
         "refused.CFG",
         {"the input already holds refused.CFG, which Windows takes for Refused.cfg, a file the "
          "image writes itself",
          "", "", ""}},
    };
    const tstring types[] = {L"msi", L"zip", L"deb", L"rpm"};
    for (std::size_t t = 0; t < 4; ++t) {
        const tstring& type = types[t];
        std::vector<std::string> names;
        std::vector<std::string> files;
        for (const auto& row : rows) {
            const std::string& refusal = row.refusals[t];
            const std::vector<std::string> lines = splitLines(row.text);
            if (refusal.empty()) {
                (row.option.empty() ? files : names)
                    .insert((row.option.empty() ? files : names).end(), lines.begin(), lines.end());
            } else if (refusal != none) {
                expectRefused(type, row.option,
                              row.option.empty() ? lines : std::vector<std::string>(), row.text,
                              refusal, env);
            }
        }
        const tstring input = makeInput(type + L"-in", files);
        tstring_array batch;
        for (const std::string& name : names) {
            SCOPED_TRACE(tstrings::toUtf8(type) + " " + name);
            const tstring text = tstrings::fromUtf8(name);
            const tstring dest = path(type + L"-" + std::to_wstring(&name - &names[0]));
            tstring_array options = {L"--name", text};
            if (type != L"zip") {
                options.insert(options.end(), {L"--vendor", text, L"--description", text});
            }
            const ChildResult packed = packAs(type, input, dest, options, env);
            ASSERT_EQ(packed.exitCode, 0u) << packed.err;
            EXPECT_EQ(packed.err, "");
            if (type == L"msi") {
                expectMsiExactly(FileUtils::joinPath(dest, text + L"-1.0.msi"), name, secret,
                                 batch);
            } else if (type == L"zip") {
                expectUnzippedExactly(FileUtils::joinPath(dest, text + L"-1.0.zip"), name, files);
            } else if (type == L"deb") {
                expectDebExactly(FileUtils::joinPath(dest, L"vt-names_1.0_amd64.deb"), name, files);
            } else {
                expectRpmExactly(FileUtils::joinPath(dest, L"vt-names-1.0-1.x86_64.rpm"), name,
                                 files);
            }
        }
        if (!batch.empty()) {
            expectInstalledExactly(batch, names, files);
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(PackFiles::fsPath(path(L"cwd"))));
}

TEST_F(Installers, UpdateSettingsGoIntoTheConfigurationAndTheInstallerIntoTheSite) {
    const tstring key = path(L"update-key.pem");
    ASSERT_EQ(
        testsupport::runChild(L"/usr/bin/openssl", {L"genpkey", L"-algorithm", L"EC", L"-pkeyopt",
                                                    L"ec_paramgen_curve:P-256", L"-out", key})
            .exitCode,
        0u);
    const std::string publicDer =
        testsupport::runChild(L"/usr/bin/openssl",
                              {L"pkey", L"-in", key, L"-pubout", L"-outform", L"DER"})
            .out;
    std::string point;
    for (const unsigned char c : publicDer.substr(publicDer.size() - 64)) {
        point += tstrings::toUtf8(tstrings::format(L"%02x", c));
    }
    const tstring_array update = {L"--publish", path(L"site"),   L"--update-key",
                                  key,          L"--update-url", L"http://127.0.0.1:8080/site"};
    tstring_array options = update;
    options.insert(options.end(), {L"--update-check", L"every-start", L"--update-mode", L"auto"});
    const ChildResult packed = pack(L"Up Date", L"1.0", options);
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    ASSERT_EQ(testsupport::runChild(L"/usr/bin/msiextract",
                                    {L"-C", path(L"x"), path(L"out/Up Date-1.0.msi")})
                  .exitCode,
              0u);
    const std::string cfg = testsupport::readFile(path(L"x/Up Date/app/Up Date.cfg"));
    EXPECT_EQ(cfg.substr(cfg.find("[Update]")),
              "[Update]\nurl=http://127.0.0.1:8080/site/\nmetadata=windows/Up%20Date/"
              "update-msi.txt\nkey=" +
                  point + "\ncheck=every-start\nmode=auto\nversion=1.0\norder=1.0.0.0\n");
    EXPECT_EQ(testsupport::readFile(path(L"site/windows/Up Date/Up Date-1.0.msi")),
              testsupport::readFile(path(L"out/Up Date-1.0.msi")));
    const std::string metadata =
        testsupport::readFile(path(L"site/windows/Up Date/update-msi.txt"));
    EXPECT_TRUE(contains(metadata, "\ntype=msi\nversion=1.0\norder=1.0.0.0\n")) << metadata;
    EXPECT_TRUE(contains(metadata, "\nurl=windows/Up%20Date/Up%20Date-1.0.msi\n")) << metadata;

    // The defaults; and the addresses that the configuration never takes.
    ASSERT_EQ(pack(L"Defaults", L"1.0", update).exitCode, 0u);
    ASSERT_EQ(testsupport::runChild(L"/usr/bin/msiextract",
                                    {L"-C", path(L"y"), path(L"out/Defaults-1.0.msi")})
                  .exitCode,
              0u);
    const std::string defaults = testsupport::readFile(path(L"y/Defaults/app/Defaults.cfg"));
    EXPECT_TRUE(contains(defaults, "\ncheck=daily\nmode=ask\n")) << defaults;
    for (const tstring url :
         {L"http://example.com/", L"ftp://127.0.0.1/", L"https://", L"127.0.0.1",
          L"https://user:pw@example.com/", L"https://example.com:x/", L"https://exa mple.com/"}) {
        options = {L"--update-key", key, L"--update-url", url};
        const ChildResult refused = pack(L"Refused", L"1.0", options);
        EXPECT_EQ(refused.exitCode, 2u);
        EXPECT_EQ(refused.err.substr(0, refused.err.find('\n')),
                  "vantrel-pack: --update-url must be https://HOST/PATH (http only to 127.0.0.1 or "
                  "localhost), ASCII without spaces or a user name: \"" +
                      tstrings::toUtf8(url) + "\"");
    }
    options = {L"--update-key",   key,      L"--update-url", L"https://example.com",
               L"--update-check", L"hourly"};
    const std::string hourly = pack(L"Refused", L"1.0", options).err;
    EXPECT_EQ(hourly.substr(0, hourly.find('\n')),
              "vantrel-pack: --update-check must be one of daily, every-start, weekly, never: "
              "\"hourly\"");
}

// A release site on a loopback port, for the launcher's update check: /ok/ serves the folder,
// /fail/ answers 500, /hang/ accepts and never answers, /huge/ sends endless bytes, /away/
// redirects to https.
class UpdateServer {
public:
    explicit UpdateServer(const tstring& root)
        : pid(testsupport::runChild(
                  L"/bin/sh",
                  {L"-c", L"python3 -u -c \"$1\" \"$2\" >\"$2/port\" 2>/dev/null & echo $!", L"sh",
                   tstrings::fromUtf8(script), root})
                  .out) {
        for (int tries = 0; tries < 100 && port.empty(); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::string text = testsupport::readFile(FileUtils::joinPath(root, L"port"));
            port = text.substr(0, text.find('\n') == std::string::npos ? 0 : text.find('\n'));
        }
    }
    ~UpdateServer() {
        testsupport::runChild(L"/bin/kill", {tstrings::fromUtf8(pid.substr(0, pid.find('\n')))});
    }
    tstring url(const tstring& mode) const {
        return L"http://127.0.0.1:" + tstrings::fromUtf8(port) + L"/" + mode + L"/";
    }

private:
    static constexpr const char* script = R"(
import http.server, sys, time
class Site(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=sys.argv[1], **kwargs)
    def do_GET(self):
        mode, _, rest = self.path[1:].partition('/')
        if mode == 'fail':
            self.send_error(500)
        elif mode == 'hang':
            time.sleep(60)
        elif mode == 'away':
            self.send_response(302)
            self.send_header('Location', 'https://127.0.0.1:%d/ok/%s' % (self.server.server_port, rest))
            self.end_headers()
        elif mode == 'huge':
            self.send_response(200)
            self.end_headers()
            try:
                for _ in range(4096):
                    self.wfile.write(b'x' * 65536)
            except OSError:
                pass
        else:
            self.path = '/' + rest
            super().do_GET()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Site)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
)";
    std::string pid, port;
};

tstring makeUpdateKey(const tstring& file) {
    EXPECT_EQ(
        testsupport::runChild(L"/usr/bin/openssl", {L"genpkey", L"-algorithm", L"EC", L"-pkeyopt",
                                                    L"ec_paramgen_curve:P-256", L"-out", file})
            .exitCode,
        0u);
    return file;
}

// What an update check leaves when nothing is ready: what the next one needs.
void expectLeftOnly(const tstring& cache) {
    std::vector<tstring> left = UserCache::listDirectory(cache);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (tstring_array{L"lock", L"state", L"trace.log"}));
}

std::string replaceLine(const std::string& text, const std::string& key, const std::string& value) {
    const std::size_t start = text.find("\n" + key + "=") + 1;
    return text.substr(0, start) + key + "=" + value + text.substr(text.find('\n', start));
}

// An installed copy takes a newer version from its site in three starts, the last running it,
// and refuses every other answer of a site, whatever it is, without a slower start.
TEST_F(Installers, InstalledCopiesUpdateFromTheSiteAndRefuseAnythingElse) {
    const tstring key = makeUpdateKey(path(L"key.pem"));
    const UpdateServer server(dir.path());
    const tstring site = server.url(L"ok") + L"site/";
    const auto publishing = [&](const tstring& toSite, const tstring& withKey) {
        return tstring_array{L"--per-user",  L"--publish",     path(toSite), L"--update-key",
                             withKey,        L"--update-url",  site,         L"--update-check",
                             L"every-start", L"--update-mode", L"auto"};
    };
    ASSERT_EQ(pack(L"VtUpdate", L"1.0", publishing(L"site", key)).exitCode, 0u);
    const tstring cache = userProfile(L"AppData/Local/VtUpdate/update");
    std::filesystem::remove_all(PackFiles::fsPath(cache));
    const AtEndOfScope uninstall([&] {
        msiexec(L"/x", path(L"out/VtUpdate-2.0.msi"));
        msiexec(L"/x", path(L"out/VtUpdate-1.0.msi"));
        std::filesystem::remove_all(PackFiles::fsPath(cache));
    });
    ASSERT_EQ(msiexec(L"/i", path(L"out/VtUpdate-1.0.msi")), 0u);
    ASSERT_EQ(pack(L"VtUpdate", L"2.0", publishing(L"site", key)).exitCode, 0u);
    ASSERT_EQ(pack(L"VtUpdate", L"2.0", publishing(L"site-other", makeUpdateKey(path(L"o.pem"))),
                   {}, path(L"out-other"))
                  .exitCode,
              0u);
    for (const tstring version : {L"0.8", L"0.9"}) {
        ASSERT_EQ(pack(L"VtUpdate", version, publishing(L"site-older", key), {}, path(L"out-older"))
                      .exitCode,
                  0u);
    }
    std::filesystem::copy(PackFiles::fsPath(path(L"site")), PackFiles::fsPath(path(L"site-bad")),
                          std::filesystem::copy_options::recursive);
    const tstring badMsi = path(L"site-bad/windows/VtUpdate/VtUpdate-2.0.msi");
    std::string bytes = testsupport::readFile(badMsi);
    bytes[bytes.size() / 2] ^= 1;
    testsupport::writeFile(badMsi, bytes);

    const tstring installed = userProfile(L"AppData/Local/Programs/VtUpdate");
    const tstring cfgFile = FileUtils::joinPath(installed, L"app/VtUpdate.cfg");
    const std::string cfg = testsupport::readFile(cfgFile);
    ASSERT_TRUE(contains(cfg, "\nversion=1.0\norder=1.0.0.0\n")) << cfg;
    const tstring trace = FileUtils::joinPath(cache, L"trace.log");
    // One start of the installed launcher: its exit code, trace and record, after everything it
    // started in the background has ended.
    const auto start = [&](const std::string& url, const std::string& mode,
                           const std::string& check) {
        testsupport::writeFile(
            cfgFile,
            replaceLine(replaceLine(replaceLine(cfg, "url", url), "mode", mode), "check", check));
        std::remove(tstrings::toUtf8(trace).c_str());
        const auto began = std::chrono::steady_clock::now();
        ChildResult run = testsupport::runChild(
            L"/usr/bin/wine", {FileUtils::joinPath(installed, L"VtUpdate.exe")},
            {{L"WINEDEBUG", L"-all"},
             {L"VANTREL_DEBUG", L"true"},
             {L"VANTREL_TEST_RECORD", L"Z:" + tstrings::replace(path(L"record.txt"), L"/", L"\\")},
             {L"VANTREL_TEST_EXIT", L"7"}});
        const auto took = std::chrono::steady_clock::now() - began;
        EXPECT_EQ(run.exitCode, 7u) << run.err;
        testsupport::runChild(L"/usr/bin/wineserver", {L"-w"}, wineEnv);
        run.out = testsupport::readFile(path(L"record.txt")) +
                  (PackFiles::exists(trace) ? testsupport::readFile(trace) : std::string());
        return std::make_pair(run, took);
    };
    const std::string ok = tstrings::toUtf8(site);
    // What a start takes without updates.
    const auto plain = start(ok, "auto", "never");
    ASSERT_TRUE(contains(plain.first.err, "Update: none, check=never")) << plain.first.err;

    const std::string portAndPath = tstrings::toUtf8(server.url(L"x")).substr(17);
    const std::string port = portAndPath.substr(0, portAndPath.find('/'));
    const struct {
        std::string url;
        std::string refusal;
    } refusals[] = {
        {"site-other/", "site-other/windows/VtUpdate/update-msi.txt is not signed with the "
                        "configured key"},
        {"site-bad/", "site-bad/windows/VtUpdate/VtUpdate-2.0.msi is not the package of the "
                      "metadata: its SHA-256 differs"},
        {"site-older/", "is not taken: 0.9 is not newer than the running 1.0"}, // sequence 2
        {"http://127.0.0.1:1/site/", "WinHttpReceiveResponse(http://127.0.0.1:1/site/windows/"},
        {"fail", "site/windows/VtUpdate/update-msi.txt answers 500"},
        {"hang", "WinHttpReceiveResponse(http://127.0.0.1:" + port},
        {"huge", "site/windows/VtUpdate/update-msi.txt sends more than 65536 bytes"},
        {"away", "update-msi.txt sends to https://127.0.0.1:" + port},
    };
    for (const auto& row : refusals) {
        SCOPED_TRACE(row.url);
        const std::string url =
            contains(row.url, "://") ? row.url
            : contains(row.url, "/")
                ? tstrings::toUtf8(server.url(L"ok")) + row.url
                : tstrings::toUtf8(server.url(tstrings::fromUtf8(row.url))) + "site/";
        const auto refused = start(url, "auto", "every-start");
        EXPECT_TRUE(contains(refused.first.out, "Update: check failed, ")) << refused.first.out;
        EXPECT_TRUE(contains(refused.first.out, row.refusal)) << refused.first.out;
        // Seconds for Wine to start a process; the check takes 20 s to give up.
        EXPECT_LT(refused.second, plain.second + std::chrono::seconds(5));
        expectLeftOnly(cache);
    }
    EXPECT_TRUE(contains(uninstallEntries(), "DisplayVersion    REG_SZ    1.0.0\n"));

    // Asked once per version by the windowed launcher alone (Wine shows no box: the answer is
    // no); both pass the update on to the application.
    ASSERT_TRUE(
        contains(start(ok, "ask", "every-start").first.out, "Update: 2.0 downloaded and verified"));
    const std::string ready = "-Dvantrel.update.ready=2.0\nargv[";
    const std::string file = "-Dvantrel.update.file=C:\\users\\";
    const auto console = start(ok, "ask", "every-start").first;
    EXPECT_TRUE(contains(console.out, ready) && contains(console.out, file)) << console.out;
    EXPECT_TRUE(contains(console.err, "Update: not asking: the console launcher never asks"));
    // The windowed launcher in the console launcher's place, for as long as it asks.
    const tstring exe = FileUtils::joinPath(installed, L"VtUpdate.exe");
    const auto replace = [](const tstring& from, const tstring& to) {
        std::filesystem::copy_file(PackFiles::fsPath(from), PackFiles::fsPath(to),
                                   std::filesystem::copy_options::overwrite_existing);
    };
    replace(exe, path(L"VtUpdate.exe"));
    replace(windowsBuild(L"bin/vantrelw.exe"), exe);
    const std::string question =
        "Update: asking \"VtUpdate 2.0 is ready. Install it when VtUpdate ends?\"";
    for (int i = 0; i < 2; ++i) {
        const ChildResult windowed = start(ok, "ask", "every-start").first;
        EXPECT_EQ(count(windowed.err, question), i == 0 ? 1u : 0u) << windowed.err;
        EXPECT_TRUE(contains(windowed.out, ready)) << windowed.out;
    }
    replace(path(L"VtUpdate.exe"), exe);
    EXPECT_TRUE(contains(uninstallEntries(), "DisplayVersion    REG_SZ    1.0.0\n"));

    // auto: the start that finds it ready runs 1.0 and installs 2.0 once it has ended.
    const ChildResult installing = start(ok, "auto", "every-start").first;
    EXPECT_TRUE(contains(installing.out, ready)) << installing.out;
    EXPECT_TRUE(contains(installing.out, "Update: the installer of 2.0 ended with 0"))
        << installing.out;
    const std::string entries = uninstallEntries();
    EXPECT_EQ(count(entries, "DisplayName    REG_SZ    VtUpdate\n"), 1u) << entries;
    EXPECT_TRUE(contains(entries, "DisplayVersion    REG_SZ    2.0.0\n")) << entries;
    const std::string updated = testsupport::readFile(cfgFile);
    ASSERT_TRUE(contains(updated, "\nversion=2.0\norder=2.0.0.0\n")) << updated;
    const ChildResult run = testsupport::runChild(
        L"/usr/bin/wine", {FileUtils::joinPath(installed, L"VtUpdate.exe")},
        {{L"WINEDEBUG", L"-all"}, {L"VANTREL_DEBUG", L"true"}, {L"VANTREL_TEST_EXIT", L"7"}});
    EXPECT_EQ(run.exitCode, 7u);
    EXPECT_FALSE(contains(run.err, "vantrel.update.ready")) << run.err;
    testsupport::runChild(L"/usr/bin/wineserver", {L"-w"}, wineEnv);
    EXPECT_TRUE(contains(testsupport::readFile(trace), "2.0 is not newer than the running 2.0"));
    expectLeftOnly(cache);
}

} // namespace
