#include <gtest/gtest.h>

#include "PackOptions.h"

namespace {

PackOptions parse(const tstring_array& args, const PackTarget& host = PackTargets::linux64) {
    tstring_array all = {L"--name", L"My App", L"--input",    L"in",
                         L"--dest", L"out",    L"--main-jar", L"a.jar"};
    all.insert(all.end(), args.begin(), args.end());
    return parsePackCommand(all, host).options;
}

TEST(PackageNames, DebianNamesAndVersions) {
    const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"My App", L"my-app"}, {L"Hello_World+2", L"hello-world+2"},
        {L"a.B-c", L"a.b-c"},   {L"x", L""},
        {L"-app", L""},         {L"ünï", L""},
    };
    for (const auto& name : names) {
        EXPECT_EQ(PackageNames::debianPackageName(name.first), name.second) << name.first;
    }
    const std::pair<const wchar_t*, const wchar_t*> versions[] = {
        {L"1.2.3", L"1.2.3"},
        {L"1.2.3-SNAPSHOT", L"1.2.3~SNAPSHOT"},
        {L"2.0 beta", L"2.0.beta"},
        {L"1:2", L"1.2"},
        {L"v1", L""},
        {L"", L""},
    };
    for (const auto& version : versions) {
        EXPECT_EQ(PackageNames::debianVersion(version.first), version.second) << version.first;
    }
}

TEST(PackageNames, InstallerVersionsTakeTheLeadingNumbersWithinTheirLimits) {
    const std::pair<const wchar_t*, const wchar_t*> versions[] = {
        {L"1", L"1.0.0"},         {L"1.2", L"1.2.0"},
        {L"1.2.3.4", L"1.2.3.4"}, {L"1.2.3.4.5", L"1.2.3.4"},
        {L"1.0.0.65536", L""},    {L"1.2.3-SNAPSHOT", L"1.2.3"},
        {L"2.5-rc1", L"2.5.0"},   {L"255.255.65535", L"255.255.65535"},
        {L"256.0", L""},          {L"1.256", L""},
        {L"1.2.65536", L""},      {L"x1", L""},
        {L"1.", L"1.0.0"},
    };
    for (const auto& version : versions) {
        EXPECT_EQ(PackageNames::msiProductVersion(version.first), version.second) << version.first;
    }
}

TEST(PackageNames, UuidsFromNamesAreStableAndWellFormed) {
    const tstring uuid = PackageNames::nameBasedUuid(L"Us\nApp");
    EXPECT_TRUE(PackageNames::isUuid(uuid)) << tstrings::toUtf8(uuid);
    EXPECT_EQ(uuid, PackageNames::nameBasedUuid(L"Us\nApp"));
    EXPECT_NE(uuid, PackageNames::nameBasedUuid(L"Us\nApp2"));
    EXPECT_EQ(uuid[14], L'8');
    EXPECT_FALSE(PackageNames::isUuid(L"12345678-1234-1234-1234-12345678901g"));
    EXPECT_FALSE(PackageNames::isUuid(L"{12345678-1234-1234-1234-123456789012}"));
}

TEST(PackageOptions, OutputNamesAndDerivedValues) {
    EXPECT_EQ(PackageNames::outputName(parse({})), L"My App");
    EXPECT_EQ(PackageNames::outputName(parse({L"--type", L"zip", L"--app-version", L"2.1"})),
              L"My App-2.1.zip");
    const PackOptions deb = parse({L"--type", L"deb", L"--icon", L"a.png", L"--vendor", L"Us"});
    EXPECT_EQ(PackageNames::outputName(deb), L"my-app_1.0_amd64.deb");
    EXPECT_EQ(PackageNames::outputName(parse({L"--type=deb", L"--linux-package-name", L"mine"})),
              L"mine_1.0_amd64.deb");
    EXPECT_EQ(PackageNames::outputName(parse({L"--type=rpm", L"--app-version", L"2.0-rc1"})),
              L"my-app-2.0~rc1-1.x86_64.rpm");
    for (const auto& arm : {std::make_pair(L"deb", L"my-app_1.0_arm64.deb"),
                            std::make_pair(L"rpm", L"my-app-1.0-1.aarch64.rpm")}) {
        EXPECT_EQ(
            PackageNames::outputName(parse({L"--type", arm.first, L"--target", L"linux-aarch64"})),
            arm.second);
    }

    const PackOptions msi = parse({L"--type", L"msi", L"--target", L"windows", L"--vendor", L"Us"});
    EXPECT_EQ(PackageNames::outputName(msi), L"My App-1.0.msi");
    EXPECT_EQ(msi.package.upgradeCode, PackageNames::nameBasedUuid(L"upgrade code\nUs\nMy App"));
    EXPECT_EQ(parse({L"--type", L"msi", L"--target", L"windows", L"--upgrade-code",
                     L"abcdef01-2345-6789-abcd-ef0123456789", L"--per-user"})
                  .package.upgradeCode,
              L"ABCDEF01-2345-6789-ABCD-EF0123456789");
}

TEST(PackageOptions, UsageErrorsNameTheProblem) {
    const struct {
        tstring_array args;
        const char* message;
    } cases[] = {
        {{L"--type", L"dmg"}, "unknown type \"dmg\" (image, msi, deb, rpm or zip)"},
        {{L"--type", L"msi"},
         "--type msi needs a Windows target (--target windows or windows-gui)"},
        {{L"--type", L"deb", L"--target", L"windows"}, "--type deb needs the linux target"},
        {{L"--type", L"zip", L"--per-user"}, "--per-user: only with --type msi"},
        {{L"--type", L"zip", L"--replace"}, "--replace: only with --type image"},
        {{L"--desktop-entry"}, "--desktop-entry: only with --type deb or rpm"},
        {{L"--type", L"rpm", L"--target", L"windows"}, "--type rpm needs the linux target"},
        {{L"--type", L"rpm", L"--publish", L"site"}, "--publish: only with --type msi, deb or zip"},
        {{L"--type", L"rpm", L"--app-version", L"1.0-rc..1"},
         "--app-version must start with a digit and hold no \"..\" for an rpm package: "
         "\"1.0-rc..1\""},
        {{L"--type", L"rpm", L"--description", L" #1 app"},
         "--description must not start with # or % for an rpm package: \" #1 app\""},
        {{L"--sign-pkcs12", L"c.p12"}, "--sign-pkcs12: only for the Windows targets"},
        {{L"--target", L"windows", L"--timestamp-url", L"http://ts"},
         "--timestamp-url needs --sign-pkcs12"},
        {{L"--type", L"msi", L"--target", L"windows", L"--upgrade-code", L"nope"},
         "--upgrade-code must be a UUID such as 12345678-9abc-def0-1234-56789abcdef0: \"nope\""},
        {{L"--type", L"msi", L"--target", L"windows", L"--app-version", L"300.1"},
         "--app-version must start with A[.B[.C]] for an installer, A and B up to 255, C up to "
         "65535: \"300.1\""},
        {{L"--type", L"deb", L"--linux-package-name", L"My"},
         "--linux-package-name must be lower-case letters, digits and + - . starting with a "
         "letter or digit, two characters or more: \"My\""},
        {{L"--type", L"deb", L"--copyright", L"(c) Us"},
         "--copyright: only for the Windows targets"},
        {{L"--type", L"zip", L"--icon", L"a.png"}, "--icon: only for the Windows targets"},
        {{L"--publish", L"site"}, "--publish needs a package: --type msi, deb or zip"},
        {{L"--type", L"deb", L"--apt-signing-key", L"K"}, "--apt-signing-key needs --publish"},
        {{L"--type", L"deb", L"--publish", L"site"},
         "--publish with --type deb needs --apt-signing-key KEYID"},
        {{L"--type", L"deb", L"--publish", L"site", L"--apt-signing-key", L"K", L"--target",
          L"linux-aarch64"},
         "--publish takes amd64 packages only, not those for linux-aarch64"},
        {{L"--type", L"deb", L"--publish=", L"--apt-signing-key", L"K"}, "--publish needs a value"},
        {{L"--type", L"deb", L"--publish", L"s", L"--apt-signing-key="},
         "--apt-signing-key needs a value"},
        {{L"--type", L"zip", L"--publish", L"site", L"--apt-signing-key", L"K"},
         "--apt-signing-key: only with --type deb"},
        {{L"--type", L"zip", L"--publish", L"site"},
         "--publish with --type msi or zip needs --update-key"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.args);
            ADD_FAILURE() << c.message;
        } catch (const VtError<UsageError>& error) {
            EXPECT_STREQ(error.bareMessage(), c.message);
        }
    }
    try {
        parsePackCommand({L"--name", L"ü", L"--input", L"i", L"--dest", L"o", L"--main-jar",
                          L"a.jar", L"--type", L"deb"},
                         PackTargets::linux64);
        ADD_FAILURE();
    } catch (const VtError<UsageError>& error) {
        EXPECT_STREQ(error.bareMessage(),
                     "the name \"ü\" makes no Debian package name: give --linux-package-name");
    }
}

} // namespace
