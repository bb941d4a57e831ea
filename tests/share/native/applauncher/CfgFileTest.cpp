#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "TestSupport.h"

namespace {

typedef std::map<tstring, std::map<tstring, tstring_array>> Content;

// The whole CfgFile as plain texts, so that one comparison shows any difference.
Content contentOf(const CfgFile& cfg) {
    Content content;
    for (const auto& section : cfg.sections()) {
        for (const auto& property : section.second) {
            content[section.first.name()][property.first.name()] = property.second;
        }
    }
    return content;
}

// ---- Platform part: the C runtime's error number for opening a directory --------------------
#ifdef _WIN32
const int openDirectoryError = EACCES;
#else
const int openDirectoryError = EISDIR;
#endif
// ---- End of the platform part ----------------------------------------------------------------

std::string crtText(int error) {
    errno = error;
    return lastCrtErrorText();
}

class CfgFileTest : public ::testing::Test {
protected:
    CfgFile load(const std::string& bytes) {
        testsupport::writeFile(path, bytes);
        return CfgFile::load(path);
    }

    Content contentAfterLoading(const std::string& bytes) { return contentOf(load(bytes)); }

    // The bare message of the error that loading raises; checks that it is positioned at
    // CfgFile::load.
    std::string loadError(const tstring& file) {
        try {
            CfgFile::load(file);
        } catch (const VtError<std::runtime_error>& error) {
            const std::string positioned = error.what();
            const std::string bare = error.bareMessage();
            EXPECT_EQ(0u, positioned.find("CfgFile.cpp(")) << positioned;
            EXPECT_NE(std::string::npos, positioned.find(") at CfgFile::load(): " + bare))
                << positioned;
            return bare;
        }
        return "no error";
    }

    std::string loadError(const std::string& bytes) {
        testsupport::writeFile(path, bytes);
        return loadError(path);
    }

    testsupport::TempDir dir;
    const tstring path = dir.path() + FileUtils::pathSeparator + L"app.cfg";
    const std::string pathUtf8 = tstrings::toUtf8(path);
};

typedef CfgFileTest ConfigLineEnds;

TEST_F(ConfigLineEnds, CrLfAndLfReadTheSame) {
    const Content expected = {{L"Application", {{L"app.mainjar", {L"a.jar"}}}},
                              {L"JavaOptions", {{L"java-options", {L"-Xmx1g", L"-Da=b"}}}}};
    EXPECT_EQ(expected, contentAfterLoading("[Application]\napp.mainjar=a.jar\n[JavaOptions]\n"
                                            "java-options=-Xmx1g\njava-options=-Da=b\n"));
    EXPECT_EQ(expected,
              contentAfterLoading("[Application]\r\napp.mainjar=a.jar\r\n[JavaOptions]\r\n"
                                  "java-options=-Xmx1g\r\njava-options=-Da=b\r\n"));
}

TEST_F(ConfigLineEnds, LastLineNeedsNoLineEnd) {
    const Content expected = {{L"Application", {{L"app.mainjar", {L"a.jar"}}}}};
    EXPECT_EQ(expected, contentAfterLoading("[Application]\napp.mainjar=a.jar"));
    EXPECT_EQ(expected, contentAfterLoading("[Application]\r\napp.mainjar=a.jar"));
}

TEST_F(ConfigLineEnds, CarriageReturnWithoutLineFeedStaysInTheValue) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a\rb", L"c\r"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar=a\rb\napp.mainjar=c\r\r\n"));
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"end\r"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar=end\r"));
}

TEST_F(ConfigLineEnds, CtrlZEndsTheInput) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a.jar"}}}}}),
              contentAfterLoading("[Application]\r\napp.mainjar=a.jar\r\n\x1A"
                                  "app.mainclass=Main\r\n"));
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar=a\x1A.jar\n[\n"));
}

// The reader works in chunks; a line and a CR LF pair cut by a chunk's end stay whole.
TEST_F(ConfigLineEnds, LinesLongerThanTheReadBufferStayWhole) {
    const std::string prefix = "[Application]\napp.mainjar=";
    const std::string longValue(64 * 1024 - prefix.size() - 1, 'x');
    const std::string longerValue(200 * 1024, 'y');
    EXPECT_EQ(
        (Content{{L"Application",
                  {{L"app.mainjar",
                    {tstrings::fromUtf8(longValue), tstrings::fromUtf8(longerValue), L"z"}}}}}),
        contentAfterLoading(prefix + longValue + "\r\napp.mainjar=" + longerValue +
                            "\r\napp.mainjar=z\r\n"));
}

typedef CfgFileTest ConfigComments;

TEST_F(ConfigComments, EmptyFileOrOnlyCommentsGiveNoSections) {
    EXPECT_TRUE(load("").sections().empty());
    EXPECT_TRUE(load("; comment\n\n;[Application]\r\n\n").sections().empty());
}

TEST_F(ConfigComments, CommentAndEmptyLinesDoNotEndASection) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a.jar"}}}}}),
              contentAfterLoading("[Application]\n; app.mainclass=Main\n\napp.mainjar=a.jar\n"));
}

TEST_F(ConfigComments, LinesBeforeTheFirstHeaderAreDropped) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainclass", {L"Main"}}}}}),
              contentAfterLoading("app.mainjar=a.jar\n[Application]\napp.mainclass=Main\n"));
}

typedef CfgFileTest ConfigHeaders;

TEST_F(ConfigHeaders, EveryKnownSectionIsRecognised) {
    EXPECT_EQ((Content{{L"AppCDSGenerateCacheJavaOptions", {{L"java-options", {L"d"}}}},
                       {L"AppCDSJavaOptions", {{L"java-options", {L"c"}}}},
                       {L"Application", {{L"app.mainjar", {L"a"}}}},
                       {L"ArgOptions", {{L"arguments", {L"e"}}}},
                       {L"JavaOptions", {{L"java-options", {L"b"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar=a\n[JavaOptions]\njava-options=b\n"
                                  "[AppCDSJavaOptions]\njava-options=c\n"
                                  "[AppCDSGenerateCacheJavaOptions]\njava-options=d\n"
                                  "[ArgOptions]\narguments=e\n"));
}

TEST_F(ConfigHeaders, UnknownOrLowerCaseSectionDropsItsLines) {
    EXPECT_EQ((Content{{L"JavaOptions", {{L"java-options", {L"-Xss1m"}}}}}),
              contentAfterLoading("[application]\napp.mainjar=a.jar\n[Other]\napp.mainjar=b\n"
                                  "[JavaOptions]\njava-options=-Xss1m\n"));
}

TEST_F(ConfigHeaders, TextAfterTheLastBracketIsIgnored) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a.jar"}}}}}),
              contentAfterLoading("[Application] ; main\napp.mainjar=a.jar\n"));
}

TEST_F(ConfigHeaders, NameRunsToTheLastBracket) {
    EXPECT_TRUE(load("[Application]x]\napp.mainjar=a.jar\n").sections().empty());
    EXPECT_TRUE(load("[]\napp.mainjar=a.jar\n").sections().empty());
    EXPECT_TRUE(load("[ Application]\napp.mainjar=a.jar\n").sections().empty());
}

TEST_F(ConfigHeaders, HeaderAfterABlankIsAPropertyLine) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a.jar"}}}}}),
              contentAfterLoading("[Application]\n [JavaOptions]\napp.mainjar=a.jar\n"));
}

TEST_F(ConfigHeaders, ByteOrderMarkKeepsTheFirstHeaderClosed) {
    EXPECT_TRUE(load("\xEF\xBB\xBF[Application]\napp.mainjar=a.jar\n").sections().empty());
}

TEST_F(ConfigHeaders, BracketAloneIsAParseErrorWithItsLineNumber) {
    EXPECT_EQ("Error parsing [" + pathUtf8 + "] file at 4: Missing ']' character",
              loadError(std::string("; comment\n\n[Application]\r\n[\r\napp.mainjar=a.jar\n")));
    EXPECT_EQ("Error parsing [" + pathUtf8 + "] file at 1: Missing ']' character",
              loadError(std::string("[Application")));
}

typedef CfgFileTest ConfigProperties;

TEST_F(ConfigProperties, NameAloneOrWithEqualsGetsAnEmptyValue) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"", L""}}}}}),
              contentAfterLoading("[Application]\napp.mainjar\napp.mainjar=\n"));
}

TEST_F(ConfigProperties, ValueRunsFromTheFirstEquals) {
    EXPECT_EQ((Content{{L"JavaOptions", {{L"java-options", {L"-Da=b=c", L"=x"}}}}}),
              contentAfterLoading("[JavaOptions]\njava-options=-Da=b=c\njava-options==x\n"));
}

TEST_F(ConfigProperties, EqualsAfterABackslashDoesNotEndTheName) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a\\=b"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar\\=x\napp.mainclass\\=x=Main\n"
                                  "app.mainjar=a\\=b\n"));
}

TEST_F(ConfigProperties, LineStartingWithEqualsIsDropped) {
    EXPECT_TRUE(load("[Application]\n=app.mainjar\n").sections().empty());
}

TEST_F(ConfigProperties, BlanksAreKept) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L" a.jar "}}}}}),
              contentAfterLoading("[Application]\napp.mainclass =Main\n app.mainjar=x\n"
                                  "app.mainjar= a.jar \n"));
}

TEST_F(ConfigProperties, UnknownOrLowerCaseNamesAreDropped) {
    EXPECT_EQ((Content{{L"Application", {{L"app.version", {L"1.0"}}}}}),
              contentAfterLoading("[Application]\napp.MainJar=a.jar\nfoo=bar\n"
                                  "app.version=1.0\n"));
}

TEST_F(ConfigProperties, AnyKnownPropertyInAnyKnownSection) {
    EXPECT_EQ((Content{{L"ArgOptions", {{L"app.mainjar", {L"a.jar"}}}},
                       {L"JavaOptions", {{L"win.norestart", {L"true"}}}}}),
              contentAfterLoading("[ArgOptions]\napp.mainjar=a.jar\n"
                                  "[JavaOptions]\nwin.norestart=true\n"));
}

TEST_F(ConfigProperties, ValuesAreDecodedFromUtf8) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"caf\u00E9-\U0001F600.jar"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar=caf\xC3\xA9-\xF0\x9F\x98\x80.jar\n"));
}

TEST_F(ConfigProperties, InvalidUtf8LineIsDroppedAndKeepsTheSection) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"b.jar"}}}}}),
              contentAfterLoading("[Application]\napp.mainjar=\xFF.jar\n[JavaOptions]\xC0\x80\n"
                                  "app.mainjar=b.jar\n"));
}

typedef CfgFileTest ConfigRepeatedSections;

TEST_F(ConfigRepeatedSections, LaterOccurrenceReplacesTheEarlierOne) {
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a.jar"}}}},
                       {L"JavaOptions", {{L"java-options", {L"-Dsecond"}}}}}),
              contentAfterLoading("[JavaOptions]\njava-options=-Dfirst\njava-options=-Dmore\n"
                                  "[Application]\napp.mainjar=a.jar\n"
                                  "[JavaOptions]\njava-options=-Dsecond\n"));
}

TEST_F(ConfigRepeatedSections, OccurrenceWithoutKnownPropertyKeepsTheEarlierOne) {
    EXPECT_EQ((Content{{L"JavaOptions", {{L"java-options", {L"-Dfirst"}}}}}),
              contentAfterLoading("[JavaOptions]\njava-options=-Dfirst\n[Application]\n"
                                  "[JavaOptions]\nunknown=1\n; nothing\n"));
}

TEST_F(ConfigRepeatedSections, PropertyNothingReadsStillReplaces) {
    EXPECT_EQ((Content{{L"JavaOptions", {{L"app.memory", {L"1g"}}}}}),
              contentAfterLoading("[JavaOptions]\njava-options=-Dfirst\n"
                                  "[JavaOptions]\napp.memory=1g\n"));
}

typedef CfgFileTest ConfigOpenErrors;

TEST_F(ConfigOpenErrors, MissingFile) {
    const tstring missing = dir.path() + FileUtils::pathSeparator + L"missing.cfg";
    EXPECT_EQ("Error opening \"" + tstrings::toUtf8(missing) + "\" file: " + crtText(ENOENT),
              loadError(missing));
}

TEST_F(ConfigOpenErrors, DirectoryInPlaceOfTheFile) {
    testsupport::makeDirectories(path);
    EXPECT_EQ("Error opening \"" + pathUtf8 + "\" file: " + crtText(openDirectoryError),
              loadError(path));
}

typedef CfgFileTest ConfigLookups;

TEST_F(ConfigLookups, AbsentSectionIsEmpty) {
    const CfgFile cfg = load("[JavaOptions]\njava-options=-Xmx1g\n");
    EXPECT_TRUE(cfg.section(SectionName::Application).empty());
    EXPECT_EQ(0u, cfg.section(SectionName::Application).count(PropertyName::mainjar));
    EXPECT_EQ(1u, cfg.section(SectionName::JavaOptions).count(PropertyName::javaOptions));
}

TEST_F(ConfigLookups, LastValueIsTheLaterLine) {
    const CfgFile cfg = load("[Application]\napp.runtime=first\napp.runtime=second\n");
    const CfgSection& application = cfg.section(SectionName::Application);
    EXPECT_EQ(L"second", CfgFile::lastValue(*application.find(PropertyName::runtime)));
}

TEST(ConfigValues, JoinedValuesUseThePathListSeparator) {
    const tstring sep(1, FileUtils::pathListSeparator);
    EXPECT_EQ(L"a.jar" + sep + L"b.jar" + sep + L"c.jar",
              CfgFile::joinedValues({PropertyName::classpath, {L"a.jar", L"b.jar", L"c.jar"}}));
    EXPECT_EQ(L"only", CfgFile::joinedValues({PropertyName::classpath, {L"only"}}));
    EXPECT_EQ(L"", CfgFile::joinedValues({PropertyName::classpath, {L""}}));
    EXPECT_EQ(sep, CfgFile::joinedValues({PropertyName::classpath, {L"", L""}}));
}

TEST(ConfigValues, IsTrueForTrueInAnyCaseAndNonZeroNumbers) {
    for (const tstring value : {L"true", L"TRUE", L"tRuE", L"1", L"-1", L"+7", L"12abc", L" 5",
                                L"\t42", L"007", L"99999999999999999999999"}) {
        EXPECT_TRUE(CfgFile::isTrue({PropertyName::winNorestart, {value}})) << value;
    }
}

TEST(ConfigValues, IsFalseForEverythingElse) {
    for (const tstring value : {L"false", L"0", L"", L"-0", L"+", L"0x1", L"yes", L" true",
                                L"true ", L"abc1", L"- 1", L"00"}) {
        EXPECT_FALSE(CfgFile::isTrue({PropertyName::winNorestart, {value}})) << value;
    }
}

TEST(ConfigValues, IsTrueReadsTheLastValue) {
    EXPECT_FALSE(CfgFile::isTrue({PropertyName::winNorestart, {L"true", L"0"}}));
    EXPECT_TRUE(CfgFile::isTrue({PropertyName::winNorestart, {L"0", L"True"}}));
}

typedef CfgFileTest ConfigPutProperty;

TEST_F(ConfigPutProperty, CreatesAnAbsentSectionWithOnlyThatProperty) {
    CfgFile cfg = load("[Application]\napp.mainjar=a.jar\n");
    cfg.putProperty(SectionName::ArgOptions, PropertyName::arguments, {L"x", L"$APPDIR"});
    EXPECT_EQ((Content{{L"Application", {{L"app.mainjar", {L"a.jar"}}}},
                       {L"ArgOptions", {{L"arguments", {L"x", L"$APPDIR"}}}}}),
              contentOf(cfg));
}

TEST_F(ConfigPutProperty, ReplacesAllValuesAndKeepsOtherProperties) {
    CfgFile cfg = load("[ArgOptions]\narguments=1\narguments=2\njava-options=-Dx\n");
    const CfgFile before = cfg;
    cfg.putProperty(SectionName::ArgOptions, PropertyName::arguments, {L"new"});
    EXPECT_EQ((Content{{L"ArgOptions", {{L"arguments", {L"new"}}, {L"java-options", {L"-Dx"}}}}}),
              contentOf(cfg));
    EXPECT_EQ(
        (Content{{L"ArgOptions", {{L"arguments", {L"1", L"2"}}, {L"java-options", {L"-Dx"}}}}}),
        contentOf(before));
}

class ConfigMacros : public ::testing::Test {
protected:
    tstring expand(const tstring& value, const MacroTable& macros) {
        CfgFile cfg;
        cfg.putProperty(SectionName::Application, PropertyName::classpath, {value});
        const CfgFile resolved = cfg.resolveMacros(macros);
        return resolved.section(SectionName::Application).begin()->second.front();
    }

    const MacroTable launcherMacros = {
        {L"$APPDIR", L"/img/app"}, {L"$BINDIR", L"/img/bin"}, {L"$ROOTDIR", L"/img"}};
};

TEST_F(ConfigMacros, EveryOccurrenceIsReplacedExactly) {
    EXPECT_EQ(L"/img/app/a.jar:/img/app/b.jar",
              expand(L"$APPDIR/a.jar:$APPDIR/b.jar", launcherMacros));
    EXPECT_EQ(L"x/img/binX /img", expand(L"x$BINDIRX $ROOTDIR", launcherMacros));
    EXPECT_EQ(L"$appdir $APP $OTHER", expand(L"$appdir $APP $OTHER", launcherMacros));
    EXPECT_EQ(L"plain", expand(L"plain", launcherMacros));
    EXPECT_EQ(L"$APPDIR", expand(L"$APPDIR", {{L"", L"never"}, {L"$APPDIR", L"$APPDIR"}}));
}

TEST_F(ConfigMacros, EveryValueOfEverySectionIsExpandedAndTheReceiverKept) {
    CfgFile cfg;
    cfg.putProperty(SectionName::Application, PropertyName::runtime, {L"$ROOTDIR/runtime"});
    cfg.putProperty(SectionName::JavaOptions, PropertyName::javaOptions,
                    {L"-Dbin=$BINDIR", L"-Dapp=$APPDIR"});
    const CfgFile resolved = cfg.resolveMacros(launcherMacros);
    EXPECT_EQ(
        (Content{{L"Application", {{L"app.runtime", {L"/img/runtime"}}}},
                 {L"JavaOptions", {{L"java-options", {L"-Dbin=/img/bin", L"-Dapp=/img/app"}}}}}),
        contentOf(resolved));
    EXPECT_EQ(
        (Content{{L"Application", {{L"app.runtime", {L"$ROOTDIR/runtime"}}}},
                 {L"JavaOptions", {{L"java-options", {L"-Dbin=$BINDIR", L"-Dapp=$APPDIR"}}}}}),
        contentOf(cfg));
}

// "$APPDIR" comes before "$ROOTDIR": a name that "$ROOTDIR" brings in needs another pass.
TEST_F(ConfigMacros, NamesBroughtInByReplacementsAreExpandedInLaterPasses) {
    testsupport::LogRecorder log;
    EXPECT_EQ(L"/a/root/x",
              expand(L"$ROOTDIR/x", {{L"$APPDIR", L"/a"}, {L"$ROOTDIR", L"$APPDIR/root"}}));
    EXPECT_EQ(L"/c/b/a", expand(L"$ZZ", {{L"$X", L"/c"}, {L"$Y", L"$X/b"}, {L"$ZZ", L"$Y/a"}}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ConfigMacros, SelfReferenceStopsAtTheFirstPass) {
    testsupport::LogRecorder log;
    EXPECT_EQ(L"/home/$APPDIR/app/lib/a.jar",
              expand(L"$APPDIR/lib/a.jar", {{L"$APPDIR", L"/home/$APPDIR/app"}}));
    EXPECT_EQ(std::vector<tstring>{L"WARNING: Macro expansion of \"$APPDIR/lib/a.jar\" does not "
                                   L"settle; the value of its first pass is used"},
              log.lines());
}

TEST_F(ConfigMacros, CycleStopsAtTheFirstPass) {
    testsupport::LogRecorder log;
    EXPECT_EQ(L"$APPDIR/b/a",
              expand(L"$APPDIR", {{L"$APPDIR", L"$BINDIR/a"}, {L"$BINDIR", L"$APPDIR/b"}}));
    EXPECT_EQ(1u, log.lines().size());
}

// Each pass multiplies the value by eight: without the bound on growth the last pass would need
// 8^7 times the memory of the first.
TEST_F(ConfigMacros, RunawayGrowthStopsAtTheFirstPass) {
    testsupport::LogRecorder log;
    tstring eightTimes;
    for (int i = 0; i < 8; ++i) {
        eightTimes += L"$A";
    }
    EXPECT_EQ(eightTimes + L"|" + eightTimes, expand(L"$A|$A", {{L"$A", eightTimes}}));
    EXPECT_EQ(1u, log.lines().size());
}

// "a" becomes "ab", which becomes "abb" and then "a" again within one pass: the value never
// grows and never settles.
TEST_F(ConfigMacros, OscillationStopsAtThePassBound) {
    testsupport::LogRecorder log;
    EXPECT_EQ(L"ab", expand(L"a", {{L"a", L"ab"}, {L"abb", L"a"}}));
    EXPECT_EQ(1u, log.lines().size());
}

} // namespace
