// The Windows installer that the Linux vantrel-pack makes, installed, upgraded and removed by
// Wine's msiexec, with the Windows build's launcher and stand-in runtime.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "FileUtils.h"
#include "PackFiles.h"
#include "TestSupport.h"
#include "Toolbox.h"

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

    std::string uninstallEntries() const {
        return testsupport::withUnixLineEnds(
            testsupport::runChild(L"/usr/bin/wine",
                                  {L"reg", L"query",
                                   L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                   L"/s"},
                                  wineEnv)
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

    testsupport::TempDir dir;
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

    const AtEndOfScope uninstall([&] { msiexec(L"/x", v2); });
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

    EXPECT_EQ(msiexec(L"/x", v2), 0u);
    EXPECT_FALSE(contains(uninstallEntries(), "VtPkgTest"));
    for (const tstring& gone : {installed, startMenu, desktop}) {
        EXPECT_FALSE(PackFiles::exists(gone)) << tstrings::toUtf8(gone);
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

} // namespace
