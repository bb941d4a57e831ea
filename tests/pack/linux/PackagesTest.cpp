// vantrel-pack --type zip|deb|msi as users run it, checked with the real tools: dpkg installs
// the Debian package, Wine's msiexec the installer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "FileUtils.h"
#include "PackFiles.h"
#include "TestRuntime.h"
#include "TestSupport.h"
#include "Toolbox.h"

using testsupport::ChildResult;

namespace {

const tstring epoch = L"1700000000";

tstring jdkHome() {
    return FileUtils::parentPath(FileUtils::parentPath(PackFiles::normalPath(L"/usr/bin/javac")));
}

ChildResult tool(const tstring& program, const tstring_array& args,
                 const testsupport::EnvChanges& env = {}, const tstring& workDir = tstring()) {
    return testsupport::runChild(program, args, env, workDir);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Packages : public ::testing::Test {
protected:
    Packages() {
        testsupport::makeDirectories(input());
        PackFiles::copyFile(
            FileUtils::joinPath(tstrings::fromUtf8(VANTREL_JAVA_PROGRAMS), L"probe.jar"),
            FileUtils::joinPath(input(), L"probe.jar"));
    }

    tstring input() const { return FileUtils::joinPath(dir.path(), L"in"); }
    tstring path(const tstring& name) const { return FileUtils::joinPath(dir.path(), name); }

    // A runtime linked once, so that the packages copy the same bytes.
    tstring linkedRuntime() const {
        const tstring runtime = path(L"runtime");
        if (!PackFiles::exists(runtime)) {
            const ChildResult linked =
                tool(FileUtils::joinPath(jdkHome(), L"bin/jlink"),
                     {L"--add-modules", L"java.base", L"--strip-debug", L"--no-header-files",
                      L"--no-man-pages", L"--output", runtime});
            EXPECT_EQ(linked.exitCode, 0u) << linked.err;
        }
        return runtime;
    }

    ChildResult pack(const tstring& dest, const tstring_array& options,
                     const testsupport::EnvChanges& env = {},
                     const tstring& workDir = tstring()) const {
        tstring_array args = {L"--input",    input(),      L"--dest", dest,
                              L"--main-jar", L"probe.jar", L"--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        testsupport::EnvChanges all = env;
        all.insert({L"SOURCE_DATE_EPOCH", epoch});
        return tool(FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"), args, all,
                    workDir);
    }

    testsupport::TempDir dir;
};

TEST_F(Packages, ZipHoldsTheImageBelowItsNameAndIsTheSameTwice) {
    const tstring_array options = {L"--name",    L"Probe",        L"--type",        L"zip",
                                   L"--runtime", linkedRuntime(), L"--app-version", L"2.1"};
    for (const tstring& dest : {path(L"one"), path(L"two")}) {
        const ChildResult packed = pack(dest, options);
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        EXPECT_EQ(packed.err, "");
        // Only the package stays.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(PackFiles::fsPath(dest)),
                                std::filesystem::directory_iterator()),
                  1);
    }
    const std::string zip = testsupport::readFile(path(L"one/Probe-2.1.zip"));
    EXPECT_EQ(zip, testsupport::readFile(path(L"two/Probe-2.1.zip")));

    const ChildResult listed = tool(L"/usr/bin/unzip", {L"-Z", path(L"one/Probe-2.1.zip")});
    EXPECT_TRUE(
        contains(listed.out, "drwxr-xr-x  2.0 unx        0 b- stor 23-Nov-14 22:13 Probe/\n"))
        << listed.out;
    EXPECT_TRUE(contains(listed.out, "-rwxr-xr-x  2.0 unx")) << listed.out;
    EXPECT_TRUE(contains(listed.out, " Probe/app/Probe.cfg\n")) << listed.out;
    const ChildResult unpacked =
        tool(L"/usr/bin/unzip", {L"-q", path(L"one/Probe-2.1.zip"), L"-d", path(L"unpacked")});
    ASSERT_EQ(unpacked.exitCode, 0u) << unpacked.err;
    const ChildResult run = tool(path(L"unpacked/Probe/Probe"), {L"from zip"});
    EXPECT_TRUE(contains(run.out, "argc=1\narg[0]=from zip\n")) << run.out << run.err;
}

TEST_F(Packages, DebInstallsRunsAndGoesAgain) {
    const tstring_array options = {L"--name",
                                   L"Vt Probe",
                                   L"--type",
                                   L"deb",
                                   L"--runtime",
                                   linkedRuntime(),
                                   L"--app-version",
                                   L"1.2.3",
                                   L"--maintainer",
                                   L"Us <us@example.org>",
                                   L"--description",
                                   L"Probes a JVM",
                                   L"--desktop-entry",
                                   L"--icon",
                                   FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico"),
                                   L"--java-options",
                                   L"-Dvtest.exit=7",
                                   L"--class-path",
                                   L"hello.jar",
                                   L"--file-type",
                                   L"vtp:application/x-vt-probe:Probe data",
                                   L"--url-scheme",
                                   L"vt-probe",
                                   L"--add-launcher",
                                   L"Hello Tool:hello.Main:gui",
                                   L"--add-launcher",
                                   L"cli:hello.Main"};
    PackFiles::copyFile(
        FileUtils::joinPath(tstrings::fromUtf8(VANTREL_JAVA_PROGRAMS), L"hello.jar"),
        FileUtils::joinPath(input(), L"hello.jar"));
    for (const tstring& dest : {path(L"one"), path(L"two")}) {
        const ChildResult packed = pack(dest, options);
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    }
    const tstring deb = path(L"one/vt-probe_1.2.3_amd64.deb");
    EXPECT_EQ(testsupport::readFile(deb),
              testsupport::readFile(path(L"two/vt-probe_1.2.3_amd64.deb")));

    const ChildResult info = tool(L"/usr/bin/dpkg-deb", {L"--field", deb});
    for (const char* field :
         {"Package: vt-probe\nVersion: 1.2.3\nArchitecture: amd64\nMaintainer: Us "
          "<us@example.org>\nInstalled-Size: ",
          "\nDepends: libc6 (>= ", "\nDescription: Probes a JVM\n"}) {
        EXPECT_TRUE(contains(info.out, field)) << field << info.out;
    }
    const ChildResult contents = tool(L"/usr/bin/dpkg-deb", {L"--contents", deb});
    for (const char* entry : {"-rwxr-xr-x root/root", " ./opt/vt-probe/app/probe.jar\n",
                              // One launcher file under each launcher's name.
                              " ./opt/vt-probe/Vt Probe link to ./opt/vt-probe/Hello Tool\n",
                              " ./opt/vt-probe/cli link to ./opt/vt-probe/Hello Tool\n",
                              " ./opt/vt-probe/runtime/lib/libjli.so\n",
                              " ./usr/bin/vt-probe -> /opt/vt-probe/Vt Probe\n",
                              " ./usr/bin/vt-probe-hello-tool -> /opt/vt-probe/Hello Tool\n",
                              " ./usr/bin/vt-probe-cli -> /opt/vt-probe/cli\n",
                              " ./usr/share/mime/packages/vt-probe.xml\n",
                              " ./usr/share/icons/hicolor/256x256/apps/vt-probe.png\n",
                              " ./usr/share/icons/hicolor/16x16/apps/vt-probe.png\n"}) {
        EXPECT_TRUE(contains(contents.out, entry)) << entry << contents.out;
    }
    ASSERT_EQ(tool(L"/usr/bin/dpkg-deb", {L"-x", deb, path(L"x")}).exitCode, 0u);
    const tstring entry = path(L"x/usr/share/applications/vt-probe.desktop");
    EXPECT_EQ(testsupport::readFile(entry),
              "[Desktop Entry]\nType=Application\nName=Vt Probe\nComment=Probes a JVM\n"
              "Exec=\"/opt/vt-probe/Vt Probe\" %f\nIcon=vt-probe\nTerminal=false\n"
              "Categories=Utility;\nMimeType=application/x-vt-probe;\n");
    EXPECT_TRUE(contains(testsupport::readFile(path(L"x/usr/share/mime/packages/vt-probe.xml")),
                         "<mime-type type=\"application/x-vt-probe\">\n    <comment>Probe "
                         "data</comment>\n    <glob pattern=\"*.vtp\"/>\n"));
    // The application's entry, the links' and the windowed extra launcher's.
    std::size_t entries = 0;
    for (const auto& file : std::filesystem::directory_iterator(
             PackFiles::fsPath(path(L"x/usr/share/applications")))) {
        const ChildResult valid =
            tool(L"/usr/bin/desktop-file-validate", {PackFiles::fromFsPath(file.path())});
        EXPECT_EQ(valid.out + valid.err, "") << file.path();
        ++entries;
    }
    EXPECT_EQ(entries, 3u);

    if (geteuid() != 0) {
        GTEST_SKIP() << "installing with dpkg needs root";
    }
    const AtEndOfScope purge([] { tool(L"/usr/bin/dpkg", {L"--purge", L"vt-probe"}); });
    const ChildResult installed = tool(L"/usr/bin/dpkg", {L"-i", deb});
    ASSERT_EQ(installed.exitCode, 0u) << installed.out << installed.err;
    const ChildResult run = tool(L"/usr/bin/vt-probe", {L"a", L"b c"});
    EXPECT_EQ(run.exitCode, 7u) << run.err;
    EXPECT_TRUE(contains(run.out, "argc=2\narg[0]=a\narg[1]=b c\n")) << run.out;
    const ChildResult hello = tool(L"/usr/bin/vt-probe-hello-tool", {});
    EXPECT_TRUE(contains(hello.out, "launched by /opt/vt-probe/Hello Tool\n")) << hello.out;
    // The desktop's databases as the triggers left them: the file type and the link scheme.
    const tstring document = path(L"a.vtp");
    testsupport::writeFile(document, "data");
    const auto xdgMime = [](const tstring_array& args) {
        tstring_array all = {L"query"};
        all.insert(all.end(), args.begin(), args.end());
        return tool(L"/usr/bin/xdg-mime", all).out;
    };
    EXPECT_EQ(xdgMime({L"filetype", document}), "application/x-vt-probe\n");
    EXPECT_EQ(xdgMime({L"default", L"application/x-vt-probe"}), "vt-probe.desktop\n");
    EXPECT_EQ(xdgMime({L"default", L"x-scheme-handler/vt-probe"}), "vt-probe.links.desktop\n");
    const ChildResult removed = tool(L"/usr/bin/dpkg", {L"-r", L"vt-probe"});
    EXPECT_EQ(removed.exitCode, 0u) << removed.err;
    EXPECT_NE(xdgMime({L"filetype", document}), "application/x-vt-probe\n");
    EXPECT_EQ(xdgMime({L"default", L"x-scheme-handler/vt-probe"}), "");
    for (const tstring gone :
         {L"/opt/vt-probe", L"/usr/bin/vt-probe", L"/usr/bin/vt-probe-hello-tool",
          L"/usr/share/applications/vt-probe.desktop", L"/usr/share/mime/packages/vt-probe.xml",
          L"/usr/share/applications/vt-probe-hello-tool.desktop"}) {
        EXPECT_FALSE(PackFiles::exists(gone)) << tstrings::toUtf8(gone);
    }
}

// What dpkg-shlibdeps can't resolve here is named and left out of Depends, and a big icon goes
// where menus look. The same bytes come out whatever the umask and with an epoch ahead of now,
// with the tools found through a relative PATH entry although the tool runs them elsewhere.
TEST_F(Packages, DebOfUnresolvedLibrariesAndABigIconIsTheSameWhateverTheUmask) {
    const tstring lib = FileUtils::joinPath(input(), L"lib");
    testsupport::makeDirectories(lib);
    std::string arm = testsupport::readFile(testruntime::jliPath());
    arm[18] = '\xb7'; // the machine: 64-bit ARM
    testsupport::writeFile(FileUtils::joinPath(lib, L"libarm.so"), arm);
    PackFiles::copyFile(tstrings::fromUtf8(VANTREL_UNRESOLVED_LIBRARY),
                        FileUtils::joinPath(lib, L"libunresolved.so"));
    // Of a PNG, only the signature and the size are read.
    testsupport::writeFile(path(L"big.png"),
                           std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x04\0\0\0\x04\0", 24));
    testsupport::makeDirectories(path(L"tools"));
    for (const char* name : {"dpkg-deb", "dpkg-shlibdeps"}) {
        std::filesystem::create_symlink(std::string("/usr/bin/") + name,
                                        PackFiles::fsPath(path(L"tools/")) / name);
    }
    const tstring_array options = {L"--name", L"Vt Big",        L"--type",
                                   L"deb",    L"--runtime",     testruntime::builtDir(),
                                   L"--icon", path(L"big.png"), L"--desktop-entry"};
    const testsupport::EnvChanges env = {{L"SOURCE_DATE_EPOCH", L"4102444800"},
                                         {L"PATH", L"tools:/usr/bin:/bin"}};
    const mode_t umaskBefore = umask(0);
    const AtEndOfScope restoreUmask([&] { umask(umaskBefore); });
    for (const mode_t mask : {0, 022}) {
        umask(mask);
        const tstring dest = path(mask == 0 ? L"one" : L"two");
        const ChildResult packed = pack(dest, options, env, dir.path());
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        EXPECT_EQ(packed.err,
                  "vantrel-pack: warning: app/lib/libarm.so is not for x86-64: Depends does not "
                  "cover it\nvantrel-pack: warning: app/lib/libunresolved.so needs "
                  "libvtmissingdep.so.1, which is not installed here: Depends does not cover it\n");
    }
    const tstring deb = path(L"one/vt-big_1.0_amd64.deb");
    EXPECT_EQ(testsupport::readFile(deb), testsupport::readFile(path(L"two/vt-big_1.0_amd64.deb")));
    EXPECT_TRUE(
        contains(tool(L"/usr/bin/dpkg-deb", {L"--field", deb, L"Depends"}).out, "libc6 (>= "));
    const ChildResult contents =
        tool(L"/usr/bin/dpkg-deb", {L"--contents", deb}, {{L"TZ", L"UTC"}});
    EXPECT_TRUE(contains(contents.out, " ./usr/share/icons/hicolor/512x512/apps/vt-big.png\n"))
        << contents.out;
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(contents.out), L"\n")) {
        EXPECT_TRUE(line.empty() || contains(tstrings::toUtf8(line), " 2100-01-01 00:00 "))
            << tstrings::toUtf8(line);
    }
}

// Debian's rhino as an rpm package: its metadata as rpm reads it, rpmlint's errors within those
// that the layout and the JDK's libraries make, and an install into a root of its own, where
// the launcher runs the shell and rpm -e takes every file away again. Two builds, one of them
// into a DEST with shell and macro syntax and with a HOME whose ~/.rpmmacros would change
// everything, give the same bytes.
TEST_F(Packages, RpmOfRhinoIsTheSameTwiceInstallsRunsAndGoes) {
    PackFiles::copyFile(L"/usr/share/java/js.jar", FileUtils::joinPath(input(), L"js.jar"));
    const tstring home = path(L"home");
    testsupport::makeDirectories(home);
    testsupport::writeFile(home + L"/.rpmmacros",
                           "%_topdir /nonexistent\n%_binary_payload w9.gzdio\n%packager Else\n");
    const tstring rpm = L"rhino-shell-1.7.14~SNAPSHOT-1.x86_64.rpm";
    const tstring two = path(L"two $(x) \"q\" 100%");
    for (const tstring& dest : {path(L"one"), two}) {
        const ChildResult packed = tool(
            FileUtils::joinPath(testsupport::binaryDir(), L"vantrel-pack"),
            {L"--name",
             L"Rhino Shell",
             L"--input",
             input(),
             L"--main-jar",
             L"js.jar",
             L"--dest",
             dest,
             L"--type",
             L"rpm",
             L"--runtime",
             FileUtils::joinPath(FileUtils::parentPath(testsupport::binaryDir()), L"jlinkruntime"),
             L"--app-version",
             L"1.7.14-SNAPSHOT",
             L"--vendor",
             L"Mozilla 100%",
             L"--maintainer",
             L"Us <us@example.org>",
             L"--description",
             L"JavaScript %{shell}",
             L"--desktop-entry",
             L"--file-type",
             L"rhino:text/x-rhino",
             L"--add-launcher",
             L"Rhino Tool:org.mozilla.javascript.tools.shell.Main",
             L"--icon",
             FileUtils::joinPath(testsupport::binaryDir(), L"pe-test.ico"),
             L"--quiet"},
            {{L"SOURCE_DATE_EPOCH", epoch}, {L"HOME", home}});
        ASSERT_EQ(packed.exitCode, 0u) << packed.err;
        EXPECT_EQ(packed.err, "");
    }
    const tstring package = path(L"one/") + rpm;
    EXPECT_EQ(testsupport::readFile(package), testsupport::readFile(two + L"/" + rpm));
    EXPECT_FALSE(PackFiles::exists(home + L"/rpmbuild"));

    const auto query = [&](const tstring_array& args) {
        tstring_array all = {L"-qp", package};
        all.insert(all.end(), args.begin(), args.end());
        return tool(L"/usr/bin/rpm", all, {{L"HOME", home}}).out;
    };
    EXPECT_EQ(query({L"--qf", L"%{NAME} %{VERSION} %{RELEASE} %{ARCH} %{BUILDTIME} %{BUILDHOST}\n"
                              L"%{PACKAGER}|%{VENDOR}|%{SUMMARY}|%{DESCRIPTION}|%{GROUP}\n"
                              L"%{PAYLOADCOMPRESSOR}|[%{CHANGELOGTEXT}]"}),
              "rhino-shell 1.7.14~SNAPSHOT 1 x86_64 1700000000 reproducible\n"
              "Us <us@example.org>|Mozilla 100%|JavaScript %{shell}|JavaScript "
              "%{shell}|Applications/Productivity\nxz|- Packed by vantrel-pack");
    // The system's libraries, none of the image's own, which it does not provide either.
    const std::string requires = query({L"--requires"});
    for (const char* library : {"libc.so.6()(64bit)", "libz.so.1()(64bit)"}) {
        EXPECT_TRUE(contains(requires, library)) << library << requires;
    }
    EXPECT_FALSE(contains(requires + query({L"--provides"}), "libjvm")) << requires;
    const std::string files = query({L"--list"});
    for (const char* file :
         {"/opt/rhino-shell\n", "/opt/rhino-shell/Rhino Shell\n", "/opt/rhino-shell/app/js.jar\n",
          "/opt/rhino-shell/runtime/lib/server/libjvm.so\n", "/usr/bin/rhino-shell\n",
          "/usr/share/applications/rhino-shell.desktop\n",
          "/usr/share/icons/hicolor/256x256/apps/rhino-shell.png\n",
          "/usr/share/mime/packages/rhino-shell.xml\n", "/usr/bin/rhino-shell-rhino-tool\n",
          "/opt/rhino-shell/app/Rhino Tool.cfg\n"}) {
        EXPECT_TRUE(contains(files, file)) << file << files;
    }
    EXPECT_FALSE(contains(files, "/usr/lib") || contains(files, "\n/usr/bin\n")) << files;

    // What rpmlint finds beyond these is a fault of the package: unsigned, the image in /opt,
    // and the JDK's libraries (no versioned soname, no SysV hash, $ORIGIN run paths, not
    // executable as Debian and rpm's own brp-elfperms leave them, which makes rpmlint take this
    // for a library package whose other files should be in versioned folders).
    const std::set<std::string> unavoidable = {"no-signature",
                                               "dir-or-file-in-opt",
                                               "invalid-soname",
                                               "missing-hash-section",
                                               "binary-or-shlib-defines-rpath",
                                               "shared-library-not-executable",
                                               "non-versioned-file-in-library-package"};
    std::set<std::string> errors;
    const std::string lint = tool(L"/usr/bin/rpmlint", {package}, {{L"HOME", home}}).out;
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(lint), L"\n")) {
        const std::string text = tstrings::toUtf8(line);
        const std::size_t at = text.find(": E: ");
        if (at != std::string::npos) {
            errors.insert(text.substr(at + 5, text.find(' ', at + 5) - at - 5));
        }
    }
    EXPECT_TRUE(errors.count("dir-or-file-in-opt")) << lint;
    for (const std::string& error : errors) {
        EXPECT_TRUE(unavoidable.count(error)) << error << "\n" << lint;
    }

    if (geteuid() != 0) {
        GTEST_SKIP() << "installing with rpm --root needs root";
    }
    const tstring root = path(L"root");
    const auto rpmInRoot = [&](const tstring_array& args) {
        tstring_array all = {L"--root", root, L"--dbpath", L"/var/lib/rpm"};
        all.insert(all.end(), args.begin(), args.end());
        return tool(L"/usr/bin/rpm", all, {{L"HOME", home}});
    };
    testsupport::makeDirectories(root);
    const ChildResult installed = rpmInRoot({L"--nodeps", L"-i", package});
    ASSERT_EQ(installed.exitCode, 0u) << installed.err;
    testsupport::writeFile(path(L"args.js"), "print('args: ' + arguments.join('|')); quit(3)");
    for (const wchar_t* command : {L"rhino-shell", L"rhino-shell-rhino-tool"}) {
        const ChildResult run =
            tool(root + L"/usr/bin/" + command, {path(L"args.js"), L"a", L"b c", L"%d"});
        EXPECT_EQ(run.out, "args: a|b c|%d\n") << run.err;
        EXPECT_EQ(run.exitCode, 3u);
    }
    EXPECT_TRUE(
        contains(testsupport::readFile(root + L"/usr/share/applications/rhino-shell.desktop"),
                 "\nComment=JavaScript %{shell}\nExec=\"/opt/rhino-shell/Rhino "
                 "Shell\" %f\nIcon=rhino-shell\n"));
    const ChildResult removed = rpmInRoot({L"-e", L"rhino-shell"});
    EXPECT_EQ(removed.exitCode, 0u) << removed.err;
    for (const tstring& file : tstrings::split(tstrings::fromUtf8(files), L"\n")) {
        EXPECT_TRUE(file.empty() || !PackFiles::exists(root + file)) << tstrings::toUtf8(file);
    }
}

TEST_F(Packages, FailuresSayWhatIsMissingAndLeaveNothing) {
    const tstring dest = path(L"dest");
    const tstring runtime = linkedRuntime();
    struct Case {
        tstring_array options;
        testsupport::EnvChanges env;
        std::string error;
    };
    // A failing rpmbuild leaves nothing in its temporary folder either.
    testsupport::makeDirectories(path(L"failing"));
    testsupport::makeDirectories(path(L"tmp"));
    testsupport::writeFile(path(L"failing/rpmbuild"), "#!/bin/sh\necho broken >&2\nexit 3\n");
    chmod(tstrings::toUtf8(path(L"failing/rpmbuild")).c_str(), 0755);
    const Case table[] = {
        {{L"--type", L"deb"},
         {{L"PATH", path(L"nothing")}},
         "dpkg-deb is needed for --type deb and is not installed (Debian package dpkg)"},
        {{L"--type", L"rpm"},
         {{L"PATH", path(L"nothing")}},
         "rpmbuild is needed for --type rpm and is not installed (Debian package rpm)"},
        {{L"--type", L"rpm"},
         {{L"PATH", path(L"failing") + L":/usr/bin:/bin"}, {L"TMPDIR", path(L"tmp")}},
         "rpmbuild failed with exit code 3: broken"},
        {{L"--type", L"deb", L"--icon", L"missing.png"},
         {},
         "the icon does not exist: missing.png"},
        {{L"--type", L"deb", L"--icon", FileUtils::joinPath(input(), L"probe.jar")},
         {},
         "the icon " + tstrings::toUtf8(input()) +
             "/probe.jar holds no square PNG image for the Linux desktop"},
    };
    std::vector<Case> cases(std::begin(table), std::end(table));
    for (const tstring epoch : {L"abc", L"-5", L"1e9", L"253402300800"}) {
        cases.push_back({{L"--type", L"zip"},
                         {{L"SOURCE_DATE_EPOCH", epoch}},
                         "SOURCE_DATE_EPOCH must be a decimal number of seconds from 0 to "
                         "253402300799 (the end of the year 9999): \"" +
                             tstrings::toUtf8(epoch) + "\""});
    }
    for (const auto& c : cases) {
        tstring_array options = {L"--name", L"App", L"--runtime", runtime};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const ChildResult result = pack(dest, options, c.env);
        EXPECT_EQ(result.exitCode, 1u) << c.error;
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.err, "vantrel-pack: " + c.error + "\n");
        EXPECT_FALSE(PackFiles::exists(dest)) << c.error;
    }
    EXPECT_TRUE(std::filesystem::is_empty(PackFiles::fsPath(path(L"tmp"))));

    // A package that exists is refused, and stays as it was.
    const tstring_array zip = {L"--name", L"App", L"--runtime", runtime, L"--type", L"zip"};
    ASSERT_EQ(pack(dest, zip).exitCode, 0u);
    const std::string before = testsupport::readFile(path(L"dest/App-1.0.zip"));
    EXPECT_EQ(pack(dest, zip).err,
              "vantrel-pack: " + tstrings::toUtf8(dest) + "/App-1.0.zip already exists\n");
    EXPECT_EQ(testsupport::readFile(path(L"dest/App-1.0.zip")), before);
}

// A folder served on a loopback port by python's http.server until the end of the scope.
class LoopbackServer {
public:
    LoopbackServer(const tstring& root, const tstring& log)
        : pid(tool(L"/bin/sh", {L"-c",
                                L"python3 -u -m http.server --bind 127.0.0.1 0 "
                                L"--directory \"$1\" >\"$2\" 2>&1 & echo $!",
                                L"sh", root, log})
                  .out) {
        for (int tries = 0; tries < 100 && port.empty(); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::string text = testsupport::readFile(log);
            const std::size_t at = text.find(" port ");
            port =
                at == std::string::npos ? "" : text.substr(at + 6, text.find(' ', at + 6) - at - 6);
        }
    }
    ~LoopbackServer() { tool(L"/bin/kill", {tstrings::fromUtf8(pid.substr(0, pid.find('\n')))}); }
    tstring url() const { return L"http://127.0.0.1:" + tstrings::fromUtf8(port); }

private:
    std::string pid, port;
};

// Every file of a folder and its bytes, by relative path.
std::map<std::string, std::string> snapshot(const tstring& root) {
    std::map<std::string, std::string> files;
    const std::filesystem::path base = PackFiles::fsPath(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(base)) {
        files[entry.path().lexically_relative(base).string()] =
            entry.is_regular_file() ? testsupport::readFile(PackFiles::fromFsPath(entry.path()))
                                    : "/";
    }
    return files;
}

// Release sites signed with throwaway gpg keys in a key ring of the test's own.
class AptSites : public Packages {
protected:
    AptSites() {
        testsupport::makeDirectories(path(L"gnupg"));
        chmod(tstrings::toUtf8(path(L"gnupg")).c_str(), 0700);
        for (const tstring uid : {L"Test <t@example.org>", L"Other <o@example.org>"}) {
            EXPECT_EQ(tool(L"/usr/bin/gpg",
                           {L"--batch", L"--passphrase", L"", L"--quick-gen-key", uid, L"default",
                            L"default", L"never"},
                           gpgEnv)
                          .exitCode,
                      0u);
        }
    }
    ~AptSites() override { tool(L"/usr/bin/gpgconf", {L"--kill", L"gpg-agent"}, gpgEnv); }

    tstring site(const tstring& file = L"") const { return path(L"site/apt/" + file); }

    ChildResult publish(const tstring& name, const tstring& version, const tstring& key = L"t@",
                        const tstring& tools = L"/usr/bin:/bin") {
        testsupport::EnvChanges env = gpgEnv;
        env.insert({L"PATH", tools});
        return pack(path(L"out-" + version),
                    {L"--name", name, L"--type", L"deb", L"--runtime", linkedRuntime(),
                     L"--app-version", version, L"--publish", path(L"site"), L"--apt-signing-key",
                     key},
                    env);
    }

    // apt with a state, logs and sources of its own, as root.
    ChildResult apt(const tstring_array& command, const tstring& url) const {
        const tstring state = path(L"apt-state");
        testsupport::makeDirectories(state + L"/lists/partial");
        testsupport::writeFile(state + L"/sources.list",
                               "deb [signed-by=" + tstrings::toUtf8(site(L"KEY.gpg")) + "] " +
                                   tstrings::toUtf8(url) + "/apt stable main\n");
        tstring_array args = {L"-y"};
        for (const tstring& option :
             {L"Dir::Etc::sourcelist=" + state + L"/sources.list",
              tstring(L"Dir::Etc::sourceparts=-"), L"Dir::State::Lists=" + state + L"/lists",
              L"Dir::State::extended_states=" + state + L"/extended_states", L"Dir::Cache=" + state,
              L"Dir::Log=" + state, tstring(L"APT::Sandbox::User=root")}) {
            args.insert(args.end(), {L"-o", option});
        }
        args.insert(args.end(), command.begin(), command.end());
        return tool(L"/usr/bin/apt-get", args, {{L"DEBIAN_FRONTEND", L"noninteractive"}});
    }

    const testsupport::EnvChanges gpgEnv = {{L"GNUPGHOME", path(L"gnupg")}};
};

TEST_F(AptSites, HoldEveryVersionOfEveryApplicationSigned) {
    const struct {
        const wchar_t *name, *package, *version;
    } releases[] = {{L"Vt Probe", L"vt-probe", L"1.0"},
                    {L"Vt Probe", L"vt-probe", L"2.0"},
                    {L"Vt Other", L"vt-other", L"3.1"}};
    for (const auto& release : releases) {
        ASSERT_EQ(publish(release.name, release.version).exitCode, 0u);
    }
    // Every version as it was written, named in Packages; nothing left beside the repository.
    const std::string packages =
        testsupport::readFile(site(L"dists/stable/main/binary-amd64/Packages"));
    for (const auto& release : releases) {
        const tstring deb = tstring(release.package) + L"_" + release.version + L"_amd64.deb";
        const tstring pooled = L"pool/main/v/" + tstring(release.package) + L"/" + deb;
        EXPECT_EQ(testsupport::readFile(site(pooled)),
                  testsupport::readFile(path(L"out-" + tstring(release.version) + L"/" + deb)));
        EXPECT_TRUE(contains(packages, "Filename: " + tstrings::toUtf8(pooled) + "\n")) << packages;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(PackFiles::fsPath(path(L"site"))),
                            std::filesystem::directory_iterator()),
              1);
    const std::string release = testsupport::readFile(site(L"dists/stable/Release"));
    for (const char* field :
         {"\nCodename: stable\n", "\nComponents: main\n", "\nSuite: stable\n"}) {
        EXPECT_TRUE(contains(release, field)) << field << release;
    }
    // KEY.gpg: the signing key alone, which verifies both signatures by itself.
    const std::string keys =
        tool(L"/usr/bin/gpg", {L"--with-colons", L"--show-keys", site(L"KEY.gpg")}, gpgEnv).out;
    EXPECT_TRUE(keys.rfind("pub:", 0) == 0 && !contains(keys, "\npub:") && contains(keys, "<t@"))
        << keys;
    for (const tstring_array& signature :
         {tstring_array{site(L"dists/stable/InRelease")},
          tstring_array{site(L"dists/stable/Release.gpg"), site(L"dists/stable/Release")}}) {
        tstring_array args = {L"--keyring", site(L"KEY.gpg")};
        args.insert(args.end(), signature.begin(), signature.end());
        EXPECT_EQ(tool(L"/usr/bin/gpgv", args).exitCode, 0u);
    }
}

TEST_F(AptSites, AFailedPublishLeavesTheSiteAsItWas) {
    ASSERT_EQ(publish(L"Vt Probe", L"1.0").exitCode, 0u);
    const auto before = snapshot(path(L"site"));
    testsupport::makeDirectories(path(L"failing"));
    testsupport::writeFile(path(L"failing/apt-ftparchive"), "#!/bin/sh\necho broken >&2\nexit 3\n");
    chmod(tstrings::toUtf8(path(L"failing/apt-ftparchive")).c_str(), 0755);
    const std::string apt = tstrings::toUtf8(path(L"site/apt"));
    const struct {
        const wchar_t *version, *key;
        bool locked, brokenTool;
        std::string error;
    } cases[] = {
        {L"2.0", L"nobody@", false, false,
         "--apt-signing-key nobody@ names no secret key in the gpg key ring"},
        {L"2.0", L"example.org", false, false,
         "--apt-signing-key example.org names 2 secret keys: give a fingerprint"},
        {L"2.0", L"o@", false, false,
         "the site's key " + apt + "/KEY.gpg is not the --apt-signing-key, which would sign it"},
        {L"1.0", L"t@", false, false, "vt-probe 1.0 is already published in " + apt},
        // These two fail after the package is written.
        {L"2.0", L"t@", true, false,
         "cannot lock the site with " + tstrings::toUtf8(path(L"site")) +
             "/.apt.lock: another run is publishing (remove it if none is)"},
        {L"2.0", L"t@", false, true, "apt-ftparchive failed with exit code 3: broken"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(PackFiles::fsPath(path(tstring(L"out-") + c.version)));
        if (c.locked) {
            testsupport::makeDirectories(path(L"site/.apt.lock"));
        }
        const ChildResult result =
            publish(L"Vt Probe", c.version, c.key,
                    (c.brokenTool ? path(L"failing:") : tstring()) + L"/usr/bin:/bin");
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.err, "vantrel-pack: " + c.error + "\n");
        std::filesystem::remove(PackFiles::fsPath(path(L"site/.apt.lock")));
        EXPECT_EQ(snapshot(path(L"site")), before) << c.error;
    }
}

TEST_F(AptSites, AptInstallsAndUpgradesFromTheSiteAndRefusesAChangedIndex) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "installing with apt needs root";
    }
    const LoopbackServer server(dir.path(), path(L"server.log"));
    const tstring url = server.url() + L"/site";
    const AtEndOfScope remove([] { tool(L"/usr/bin/dpkg", {L"--purge", L"vt-probe"}); });
    const auto installed = [] {
        return tool(L"/usr/bin/dpkg-query", {L"-W", L"-f=${Version}", L"vt-probe"}).out;
    };
    for (const tstring version : {L"1.0", L"2.0"}) {
        ASSERT_EQ(publish(L"Vt Probe", version).exitCode, 0u);
        for (const tstring_array& command :
             {tstring_array{L"--error-on=any", L"update"},
              tstring_array{L"install", L"--only-upgrade", L"vt-probe"}}) {
            const tstring_array first = {L"install", L"vt-probe"};
            const ChildResult result =
                apt(version == L"1.0" && command[0] == L"install" ? first : command, url);
            ASSERT_EQ(result.exitCode, 0u) << result.out << result.err;
        }
        EXPECT_EQ(installed(), tstrings::toUtf8(version));
    }
    // A Packages changed after signing no longer matches the signed Release.
    std::string changed = testsupport::readFile(site(L"dists/stable/main/binary-amd64/Packages"));
    testsupport::writeFile(site(L"dists/stable/main/binary-amd64/Packages"),
                           changed.replace(changed.find("Version: 2.0"), 12, "Version: 9.0"));
    std::filesystem::remove_all(PackFiles::fsPath(path(L"apt-state/lists")));
    const ChildResult refused = apt({L"--error-on=any", L"update"}, url);
    EXPECT_NE(refused.exitCode, 0u);
    EXPECT_TRUE(contains(refused.out + refused.err, "Hash Sum mismatch"))
        << refused.out << refused.err;
    EXPECT_EQ(installed(), "2.0");
}

// The release site: a throwaway key, and every file of the site with its bytes.
class Site : public Packages {
protected:
    tstring site() const { return path(L"site"); }

    tstring newKey(const tstring& name, const tstring& curve = L"P-256") const {
        const tstring key = path(name);
        const ChildResult made =
            tool(L"/usr/bin/openssl", {L"genpkey", L"-algorithm", L"EC", L"-pkeyopt",
                                       L"ec_paramgen_curve:" + curve, L"-out", key});
        EXPECT_EQ(made.exitCode, 0u) << made.err;
        return key;
    }

    ChildResult publish(const tstring& name, const tstring& version, const tstring& key,
                        const testsupport::EnvChanges& env = {}) const {
        // The site as a relative path, as users give it.
        return pack(path(L"dest" + std::to_wstring(++runs)),
                    {L"--name", name, L"--runtime", linkedRuntime(), L"--type", L"zip",
                     L"--app-version", version, L"--publish", L"site", L"--update-key", key},
                    env, dir.path());
    }

    std::map<std::string, std::string> listing() const {
        std::map<std::string, std::string> files;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(PackFiles::fsPath(site()))) {
            files[entry.path().string()] =
                entry.is_directory() ? "dir" : testsupport::readFile(PackFiles::fromFsPath(entry));
        }
        return files;
    }

    mutable int runs = 0; // each publish builds into a folder of its own

    // The value of key= in the metadata.
    static std::string field(const std::string& metadata, const std::string& key) {
        const std::size_t start = metadata.find("\n" + key + "=") + key.size() + 2;
        return metadata.substr(start, metadata.find('\n', start) - start);
    }

    // openssl's own check of the metadata, r||s made DER again by openssl.
    bool verifies(const std::string& metadata, const tstring& key) const {
        const std::string signature = field(metadata, "signature");
        testsupport::writeFile(path(L"sig.cnf"), "asn1=SEQUENCE:sig\n[sig]\nr=INTEGER:0x" +
                                                     signature.substr(0, 64) + "\ns=INTEGER:0x" +
                                                     signature.substr(64) + "\n");
        tool(L"/usr/bin/openssl",
             {L"asn1parse", L"-genconf", path(L"sig.cnf"), L"-out", path(L"sig.der"), L"-noout"});
        tool(L"/usr/bin/openssl", {L"pkey", L"-in", key, L"-pubout", L"-out", path(L"pub.pem")});
        testsupport::writeFile(path(L"signed"), metadata.substr(0, metadata.rfind("signature=")));
        return tool(L"/usr/bin/openssl", {L"dgst", L"-sha256", L"-verify", path(L"pub.pem"),
                                          L"-signature", path(L"sig.der"), path(L"signed")})
                   .out == "Verified OK\n";
    }
};

TEST_F(Site, HoldsEveryVersionAndSignsTheNewest) {
    const tstring key = newKey(L"key.pem");
    for (const auto& version : {std::make_pair(L"App", L"1.0"), std::make_pair(L"App", L"2.0"),
                                std::make_pair(L"Other App", L"1.0")}) {
        const ChildResult published = publish(version.first, version.second, key);
        ASSERT_EQ(published.exitCode, 0u) << published.err;
    }
    const std::pair<const wchar_t*, const wchar_t*> copies[] = {
        {L"site/windows/App/App-1.0.zip", L"dest1/App-1.0.zip"},
        {L"site/windows/App/App-2.0.zip", L"dest2/App-2.0.zip"},
        {L"site/windows/Other App/Other App-1.0.zip", L"dest3/Other App-1.0.zip"}};
    for (const auto& copy : copies) {
        EXPECT_EQ(testsupport::readFile(path(copy.first)),
                  testsupport::readFile(path(copy.second)));
    }
    const std::string metadata = testsupport::readFile(path(L"site/windows/App/update-zip.txt"));
    const tstring published = path(L"site/windows/App/App-2.0.zip");
    EXPECT_EQ(metadata.substr(0, metadata.find("published=")),
              "format=vantrel-update-1\nname=App\ntype=zip\nversion=2.0\norder=2.0.0.0\n"
              "sequence=2\n");
    EXPECT_EQ(field(metadata, "url"), "windows/App/App-2.0.zip");
    EXPECT_EQ(field(metadata, "size"), std::to_string(testsupport::readFile(published).size()));
    EXPECT_EQ(field(metadata, "sha256") + "  " + tstrings::toUtf8(published) + "\n",
              tool(L"/usr/bin/sha256sum", {published}).out);
    EXPECT_EQ(field(testsupport::readFile(path(L"site/windows/Other App/update-zip.txt")), "url"),
              "windows/Other%20App/Other%20App-1.0.zip");
    EXPECT_TRUE(verifies(metadata, key));
    std::string changed = metadata;
    changed[changed.find("size=") + 5] ^= 1;
    EXPECT_FALSE(verifies(changed, key));
}

TEST_F(Site, FailedPublishLeavesTheSiteAsItWas) {
    const tstring key = newKey(L"key.pem");
    ASSERT_EQ(publish(L"App", L"2.0", key).exitCode, 0u);
    const auto before = listing();
    const tstring notAKey = FileUtils::joinPath(input(), L"probe.jar");
    const std::string siteDir = tstrings::toUtf8(site());
    struct Case {
        tstring version;
        tstring key;
        testsupport::EnvChanges env;
        std::string error;
    };
    const Case table[] = {
        {L"3.0",
         newKey(L"other.pem"),
         {},
         siteDir + "/windows/App/update-zip.txt is not signed with the key of --update-key"},
        {L"3.0",
         newKey(L"p384.pem", L"P-384"),
         {},
         "the key of --update-key is no ECDSA P-256 key: " + tstrings::toUtf8(path(L"p384.pem"))},
        {L"3.0", notAKey, {}, "cannot read the key of --update-key " + tstrings::toUtf8(notAKey)},
        {L"1.5", key, {}, "the site's newest App is 2.0: 1.5 is not newer and is not published"},
        {L"2.0.0",
         key,
         {},
         "the site's newest App is 2.0: 2.0.0 is not newer and is not published"},
        {L"2.0",
         key,
         {{L"SOURCE_DATE_EPOCH", L"1700000999"}},
         siteDir + "/windows/App/App-2.0.zip already exists with other contents and is not "
                   "replaced"},
    };
    for (const Case& c : table) {
        const ChildResult result = publish(L"App", c.version, c.key, c.env);
        EXPECT_EQ(result.exitCode, 1u) << c.error;
        // One line; openssl's own reason may follow the text.
        EXPECT_EQ(result.err.rfind("vantrel-pack: " + c.error, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(listing(), before) << c.error;
    }
    // Metadata that lost its signature line is no one's to replace.
    const tstring metadata = path(L"site/windows/App/update-zip.txt");
    const std::string signedText = testsupport::readFile(metadata);
    testsupport::writeFile(metadata, signedText.substr(0, signedText.rfind("signature=")));
    const auto truncated = listing();
    EXPECT_EQ(publish(L"App", L"3.0", key).err,
              "vantrel-pack: " + siteDir +
                  "/windows/App/update-zip.txt is no update metadata: no line signature=\n");
    EXPECT_EQ(listing(), truncated);
    testsupport::writeFile(metadata, signedText);

    // The same package again changes only the metadata's sequence and time.
    ASSERT_EQ(publish(L"App", L"2.0", key).exitCode, 0u);
    EXPECT_EQ(field(testsupport::readFile(path(L"site/windows/App/update-zip.txt")), "sequence"),
              "2");
}

TEST_F(Site, RefusalsAreUsageErrorsBeforeAnything) {
    const tstring key = newKey(L"key.pem");
    const struct {
        tstring_array options;
        std::string error;
    } table[] = {
        {{L"--type", L"zip", L"--publish", site()},
         "--publish with --type msi or zip needs --update-key"},
        {{L"--type", L"zip", L"--update-key", key}, "--update-key needs --publish or --update-url"},
        {{L"--type", L"zip", L"--update-url", L"https://example.com/", L"--update-key", key},
         "--update-url: only with --type msi"},
        {{L"--type", L"zip", L"--publish", site(), L"--update-key", key, L"--update-mode", L"auto"},
         "--update-mode needs --update-url"},
        {{L"--publish", site(), L"--update-key", key},
         "--publish needs a package: --type msi, deb or zip"},
        {{L"--type", L"deb", L"--publish", site(), L"--apt-signing-key", L"K", L"--update-key",
          key},
         "--update-key: only with --type msi or zip"},
        {{L"--type", L"zip", L"--publish", L"", L"--update-key", key}, "--publish needs a value"},
        {{L"--type", L"zip", L"--publish", site(), L"--update-key", key, L"--app-version",
          L"1000.0"},
         "--app-version must start with A[.B[.C]] for updates, A and B up to 255, C up to "
         "65535: \"1000.0\""},
    };
    for (const auto& c : table) {
        tstring_array options = {L"--name", L"App", L"--runtime", linkedRuntime()};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const ChildResult result = pack(path(L"dest"), options);
        EXPECT_EQ(result.exitCode, 2u) << c.error;
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), "vantrel-pack: " + c.error);
        EXPECT_FALSE(PackFiles::exists(path(L"dest")) || PackFiles::exists(site())) << c.error;
    }
}

} // namespace
