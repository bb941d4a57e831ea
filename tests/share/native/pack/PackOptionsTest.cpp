#include <gtest/gtest.h>

#include "FileUtils.h"
#include "OptionFiles.h"
#include "PackOptions.h"

namespace {

const tstring_array required = {L"--name", L"App", L"--input", L"in", L"--dest", L"out"};

tstring pathList(const tstring& first, const tstring& second) {
    return first + FileUtils::pathListSeparator + second;
}

PackOptions parse(tstring_array args, const PackTarget& host = PackTargets::linux64) {
    args.insert(args.begin(), required.begin(), required.end());
    return parsePackCommand(args, host).options;
}

TEST(PackOptions, ValuesKeepTheirTextAndOrder) {
    const PackOptions options =
        parse({L"--main-jar", L"lib/app.jar", L"--java-options", L"-Dx=$APPDIR/a b",
               L"--java-options=-Xmx1g", L"--arguments", L"--flag", L"--arguments", L" ",
               L"--class-path", pathList(L"a.jar", L"b/c.jar"), L"--cds", L"--no-restart"});
    EXPECT_EQ(options.mainJar, L"lib/app.jar");
    EXPECT_EQ(options.javaOptions, (tstring_array{L"-Dx=$APPDIR/a b", L"-Xmx1g"}));
    EXPECT_EQ(options.arguments, (tstring_array{L"--flag", L" "}));
    EXPECT_EQ(options.classPath, (tstring_array{L"a.jar", L"b/c.jar"}));
    EXPECT_TRUE(options.cds && options.noRestart && !options.quiet);
    EXPECT_EQ(options.target, &PackTargets::linux64);
    // The start-up archive is on unless turned off.
    EXPECT_TRUE(parse({L"--main-jar", L"a.jar"}).cds);
    EXPECT_FALSE(parse({L"--main-jar", L"a.jar", L"--no-cds"}).cds);
    EXPECT_EQ(parse({L"--main-jar", L"a.jar"}, PackTargets::windows64).target,
              &PackTargets::windows64);
    EXPECT_EQ(parse({L"--main-jar", L"a.jar", L"--target", L"windows-gui"}).target,
              &PackTargets::windowsGui64);
    EXPECT_EQ(parse({L"--main-jar", L"a.jar", L"--target", L"linux-aarch64"}).target,
              &PackTargets::linuxArm64);
}

TEST(PackOptions, UsageErrorsNameTheProblem) {
    const struct {
        tstring_array args;
        const char* message;
    } cases[] = {
        {{L"--name", L"A", L"--input", L"i"}, "--dest is required"},
        {{L"--main-jar", L"a.jar", L"--bogus"}, "unknown option --bogus"},
        {{L"--main-jar", L"a.jar", L"stray"}, "unexpected argument stray"},
        {{L"--main-jar", L"a.jar", L"--name", L"B"}, "--name is given twice"},
        {{L"--main-class"}, "--main-class needs a value"},
        {{L"--main-jar", L"a.jar", L"--cds=yes"}, "--cds takes no value"},
        {{L"--main-jar", L"a.jar", L"--cds", L"--no-cds"}, "--cds does not go with --no-cds"},
        {{}, "one of --main-jar, --main-class and --module is required"},
        {{L"--main-class", L"a.B"}, "--main-class without --main-jar needs --class-path"},
        {{L"--module", L"m", L"--main-jar", L"a.jar"},
         "--module does not go with --main-jar or --main-class"},
        {{L"--module", L"m"}, "--module needs --module-path"},
        {{L"--module", L"m/", L"--module-path", L"mods"},
         "--module must be MODULE or MODULE/CLASS: \"m/\""},
        {{L"--main-jar", L"../a.jar"},
         "--main-jar must name a path inside the input: \"../a.jar\""},
        {{L"--main-jar", L"/a.jar"}, "--main-jar must name a path inside the input: \"/a.jar\""},
        {{L"--main-jar", L"a.jar", L"--class-path", pathList(L"a.jar", L"lib/../../b.jar")},
         "--class-path must name a path inside the input: \"lib/../../b.jar\""},
        {{L"--main-jar", L"a.jar", L"--java-options", L"-Da=1\n-Db=2"},
         "--java-options takes no value with a line end"},
        {{L"--main-jar", L"a.jar", L"--target", L"mac"},
         "unknown target \"mac\" (linux, linux-aarch64, windows or windows-gui)"},
        {{L"--main-jar", L"a.jar", L"--package", L"a/b"},
         "--package is not usable as a file name: \"a/b\""},
        {{L"--main-jar", L"a.jar", L"--target", L"windows", L"--package", L"a:b"},
         "--package is not usable as a file name: \"a:b\""},
        {{L"--main-jar", L"a.jar", L"--runtime", L"rt", L"--add-modules", L"java.sql"},
         "--runtime does not go with --jlink-from, --jmods or the module options"},
        {{L"--main-jar", L"a.jar", L"--runtime", L"rt", L"--no-provider-modules"},
         "--runtime does not go with --jlink-from, --jmods or the module options"},
        {{L"--main-jar", L"a.jar", L"--add-modules", L"java.sql", L"--extra-modules", L"a"},
         "--add-modules names every module: it does not go with --extra-modules or "
         "--no-provider-modules"},
        {{L"--main-jar", L"a.jar", L"--extra-modules", L" , "},
         "--extra-modules needs at least one module"},
        {{L"--main-jar", L"a.jar", L"--icon", L"a.ico", L"--vendor", L"V"},
         "--icon, --vendor: only for the Windows targets"},
        {{L"--main-jar", L"a.jar", L"--target", L"windows", L"--app-version", L"1.2.65536"},
         "--app-version must be A[.B[.C[.D]]][QUALIFIER] with numbers up to 65535: "
         "\"1.2.65536\""},
        {{L"--main-jar", L"a.jar", L"--target", L"windows", L"--app-version", L"1.2.3.4.5-rc"},
         "--app-version must be A[.B[.C[.D]]][QUALIFIER] with numbers up to 65535: "
         "\"1.2.3.4.5-rc\""},
        {{L"--main-jar", L"a.jar", L"--java-options",
          L"-Dx=a\x1a"
          L"b"},
         "--java-options takes no value with Ctrl+Z (0x1A)"},
        {{L"--main-jar", L"a.jar", L"--arguments", L"a", L"--arguments", L""},
         "--arguments takes no empty value"},
        {{L"--main-jar", L"a.jar", L"--java-options="}, "--java-options takes no empty value"},
    };
    for (const auto& c : cases) {
        tstring_array args = c.args;
        if (c.args.size() < 4 || c.args[0] != L"--name") {
            args.insert(args.begin(), required.begin(), required.end());
        }
        try {
            parsePackCommand(args, PackTargets::linux64);
            ADD_FAILURE() << "no usage error for: " << c.message;
        } catch (const VtError<UsageError>& error) {
            EXPECT_STREQ(error.bareMessage(), c.message);
        }
    }
}

// Linux takes any name but what its launcher would split or can't tell from a directory; the
// Windows targets refuse what Windows can't create as well.
TEST(PackOptions, NamesThatCantBeAFileOnTheTargetAreRefused) {
    const tstring_array everywhere = {L".", L"..", L"a/b", L"a\\b", L"a:b", L"a\tb", L"a\x7f"};
    const tstring_array onWindows = {L"CON",  L"con.txt",  L"Nul", L"aux .x", L"PRN",
                                     L"com1", L"LPT9.a.b", L"a.",  L"a ",     L"a<b",
                                     L"a>b",  L"a\"b",     L"a|b", L"a?b",    L"a*b"};
    const tstring_array usable = {L"hello-1.0", L"a b",     L"COM0",         L"com10",
                                  L"lpt",       L"CONSOLE", L"\u65e5\u672c", L".hidden"};
    for (const PackTarget* target : {&PackTargets::linux64, &PackTargets::windows64}) {
        for (const wchar_t* option : {L"--name", L"--package"}) {
            const auto accepts = [&](const tstring& name) {
                tstring_array args = {L"--input", L"in",     L"--dest", L"out", L"--main-jar",
                                      L"a.jar",   L"--name", L"App",    option, name};
                if (tstring(option) == L"--name") {
                    args.erase(args.begin() + 6, args.begin() + 8);
                }
                try {
                    parsePackCommand(args, *target);
                    return true;
                } catch (const VtError<UsageError>& error) {
                    const std::string prefix =
                        tstrings::toUtf8(option) + " is not usable as a file name: \"";
                    EXPECT_EQ(prefix, std::string(error.bareMessage()).substr(0, prefix.size()));
                    return false;
                }
            };
            for (const tstring& name : everywhere) {
                EXPECT_FALSE(accepts(name)) << tstrings::toUtf8(name);
            }
            for (const tstring& name : onWindows) {
                EXPECT_EQ(accepts(name), !target->windows) << tstrings::toUtf8(name);
            }
            for (const tstring& name : usable) {
                EXPECT_TRUE(accepts(name)) << tstrings::toUtf8(name);
            }
        }
    }
}

TEST(PackOptions, HelpAndVersionNeedNothingElse) {
    EXPECT_EQ(parsePackCommand({L"--help"}, PackTargets::linux64).action, PackCommand::Help);
    EXPECT_EQ(parsePackCommand({L"--version"}, PackTargets::linux64).action, PackCommand::Version);
}

TEST(PackOptions, WindowsResourcesAreParsed) {
    const PackOptions options = parse({L"--main-jar", L"a.jar", L"--target", L"windows",
                                       L"--app-version", L"1.2.3", L"--copyright", L"(c) Us"});
    EXPECT_EQ(options.resources.appVersion, L"1.2.3");
    EXPECT_EQ(options.resources.copyright, L"(c) Us");
    EXPECT_EQ(options.resources.givenOptions(), L"--app-version, --copyright");
}

} // namespace

namespace {

TEST(PackOptions, DesktopValuesAreReadAndImplyTheDesktopEntry) {
    const PackOptions deb = parse({L"--main-jar", L"a.jar", L"--type", L"deb", L"--file-type",
                                   L"VTD:Application/X-Vt:A: b", L"--file-type", L"vtx:text/x-vt",
                                   L"--url-scheme", L"Vt-Link", L"--add-launcher",
                                   L"Tool:a.b.C$D:gui", L"--add-launcher", L"cli:\u00e9.Main"});
    ASSERT_EQ(deb.desktop.fileTypes.size(), 2u);
    EXPECT_EQ(deb.desktop.fileTypes[0].extension, L"VTD");
    EXPECT_EQ(deb.desktop.fileTypes[0].mimeType, L"application/x-vt");
    EXPECT_EQ(deb.desktop.fileTypes[0].description, L"A: b");
    EXPECT_EQ(DesktopNames::fileTypeDescription(deb, deb.desktop.fileTypes[1]), L"App document");
    EXPECT_EQ(deb.desktop.urlSchemes, tstring_array{L"vt-link"});
    ASSERT_EQ(deb.desktop.launchers.size(), 2u);
    EXPECT_TRUE(deb.desktop.launchers[0].gui && !deb.desktop.launchers[1].gui);
    EXPECT_EQ(deb.desktop.launchers[1].mainClass, L"\u00e9.Main");
    EXPECT_TRUE(deb.package.desktopEntry);
    EXPECT_EQ(DesktopNames::linuxCommand(L"app", L"My Tool+2"), L"app-my-tool+2");
}

// Each refusal of a desktop value is its own line, without the usage.
TEST(PackOptions, DesktopRefusalsAreOneLineEach) {
    const tstring_array deb = {L"--type", L"deb"};
    const tstring_array msi = {L"--type", L"msi", L"--target", L"windows"};
    const struct {
        tstring_array type;
        tstring_array args;
        const char* message;
    } cases[] = {
        {{}, {L"--file-type", L"a:text/x-a"}, "--file-type: only with --type msi, deb or rpm"},
        {{L"--type", L"zip"}, {L"--url-scheme", L"a"}, "--url-scheme: only with --type msi, deb or rpm"},
        {deb, {L"--file-type", L"vt"}, "--file-type must be EXT:MIME[:DESCRIPTION]: \"vt\""},
        {deb,
         {L"--file-type", L".vt:text/x-vt"},
         "--file-type takes an extension of 1 to 16 letters, digits, - _ + without its dot: "
         "\".vt\""},
        {deb,
         {L"--file-type", L"vt:x-scheme-handler/vt"},
         "--file-type takes a MIME type TYPE/SUBTYPE of application, audio, font, image, model, "
         "text or video: \"x-scheme-handler/vt\""},
        {deb,
         {L"--file-type", L"vt:text/x-vt:a\tb"},
         "--file-type takes no control character in its description: \"vt:text/x-vt:a?b\""},
        {msi,
         {L"--file-type", L"vt:text/x-vt", L"--file-type", L"VT:text/x-other"},
         "--file-type gives an extension twice: \"VT\""},
        {deb,
         {L"--url-scheme", L"vt:"},
         "--url-scheme must be a letter, then letters, digits, + - .: \"vt:\""},
        {msi,
         {L"--url-scheme", L"vt", L"--url-scheme", L"VT"},
         "--url-scheme gives a scheme twice: \"VT\""},
        {{}, {L"--add-launcher", L"Tool"}, "--add-launcher must be NAME:MAINCLASS[:gui]: \"Tool\""},
        {{},
         {L"--add-launcher", L"Tool:a.B:GUI"},
         "--add-launcher must be NAME:MAINCLASS[:gui]: \"Tool:a.B:GUI\""},
        {msi,
         {L"--add-launcher", L"con:a.B"},
         "--add-launcher is not usable as a file name: \"con\""},
        {{}, {L"--add-launcher", L"T:a/B"}, "--add-launcher takes a Java class name: \"a/B\""},
        {{},
         {L"--add-launcher", L"APP:a.B"},
         "--add-launcher names a launcher that the image has, or a folder of it, in any case: "
         "\"APP\""},
        {{},
         {L"--add-launcher", L"Runtime:a.B"},
         "--add-launcher names a launcher that the image has, or a folder of it, in any case: "
         "\"Runtime\""},
        {msi,
         {L"--add-launcher", L"t:a.B", L"--add-launcher", L"T:a.C"},
         "--add-launcher names a launcher that the image has, or a folder of it, in any case: "
         "\"T\""},
        {deb,
         {L"--add-launcher", L"My Tool:a.B", L"--add-launcher", L"my-tool:a.C"},
         "--add-launcher makes a command that another makes, app-my-tool: \"my-tool\""},
    };
    for (const auto& c : cases) {
        tstring_array args = {L"--main-jar", L"a.jar"};
        args.insert(args.end(), c.type.begin(), c.type.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        try {
            parse(args);
            ADD_FAILURE() << "no usage error for: " << c.message;
        } catch (const VtError<UsageError>& error) {
            EXPECT_STREQ(error.bareMessage(), c.message);
            EXPECT_FALSE(error.withUsage) << c.message;
        }
    }
    try {
        parse({L"--module", L"m/a.B", L"--module-path", L"mods", L"--add-launcher", L"T:a.C"});
        ADD_FAILURE() << "--add-launcher with --module";
    } catch (const VtError<UsageError>& error) {
        EXPECT_STREQ(
            error.bareMessage(),
            "--add-launcher starts a class of the class path: it does not go with --module");
    }
}

TEST(OptionFiles, SplitAsJavasToolsDo) {
    const std::pair<std::string, tstring_array> cases[] = {
        {"--name App --input in\r\n\n  --dest\tout\n",
         {L"--name", L"App", L"--input", L"in", L"--dest", L"out"}},
        {"# a comment --name\n--name A#1 # another\n", {L"--name", L"A#1"}},
        {"--name \"My App\" --vendor 'Us \"Co\"'\n",
         {L"--name", L"My App", L"--vendor", L"Us \"Co\""}},
        {"--name=\"a b\"c '' \"\\t\\\\\\\"\"", {L"--name=a bc", L"", L"\t\\\""}},
        {"--description \"one \\\n     two\"", {L"--description", L"one two"}},
        {"C:\\path\\in \\n", {L"C:\\path\\in", L"\\n"}},
        {"\xc3\xa9t\xc3\xa9 \"\xe6\x97\xa5\xe6\x9c\xac\"", {L"\u00e9t\u00e9", L"\u65e5\u672c"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OptionFiles::parse(c.first, L"f"), c.second) << c.first;
    }
    const std::pair<std::string, const char*> refused[] = {
        {"--name \"App\n--input in",
         "the option file f, line 1: a quote is not closed on its line"},
        {"\n\n--name 'App", "the option file f, line 3: a quote is not closed on its line"},
        {"--name \xff", "the option file f is not UTF-8 text"},
    };
    for (const auto& r : refused) {
        try {
            OptionFiles::parse(r.first, L"f");
            ADD_FAILURE() << r.second;
        } catch (const VtError<UsageError>& error) {
            EXPECT_STREQ(error.bareMessage(), r.second);
            EXPECT_FALSE(error.withUsage);
        }
    }
}

} // namespace
