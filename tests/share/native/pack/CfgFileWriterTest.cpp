#include <gtest/gtest.h>

#include "CfgFile.h"
#include "CfgFileWriter.h"
#include "FileUtils.h"
#include "TestSupport.h"

namespace {

PackOptions classPathApp(const PackTarget& target) {
    PackOptions options;
    options.name = L"App";
    options.target = &target;
    options.mainJar = L"lib/app.jar";
    options.classPath = {L"lib\\more.jar", L"x"};
    options.splash = L"img/splash.png";
    // Values that look like syntax of the file: they must read back unchanged.
    options.javaOptions = {L"-Dx=$APPDIR/a b=c",          L"[JavaOptions]", L";not a comment", L"",
                           L"\u00e9t\u00e9 \u65e5\u672c", L"-Dp=a\\=b"};
    options.arguments = {L"--flag", L"$ROOTDIR", L"arguments=x"};
    options.noRestart = true;
    return options;
}

CfgFile writeAndLoad(const PackOptions& options, const tstring& mainClass) {
    const testsupport::TempDir dir;
    const tstring path = FileUtils::joinPath(dir.path(), L"App.cfg");
    testsupport::writeFile(path, makeCfgText(options, mainClass));
    return CfgFile::load(path);
}

tstring_array values(const CfgFile& cfg, const SectionId& section, const PropertyId& property) {
    const auto found = cfg.section(section).find(property);
    return found == cfg.section(section).end() ? tstring_array() : found->second;
}

TEST(CfgFileWriter, ReadsBackThroughTheParserToTheValuesGiven) {
    const struct {
        const PackTarget& target;
        tstring_array classPath;
        tstring splash;
    } cases[] = {
        {PackTargets::linux64,
         {L"$APPDIR/lib/app.jar", L"$APPDIR/lib/more.jar", L"$APPDIR/x"},
         L"$APPDIR/img/splash.png"},
        {PackTargets::windows64,
         {L"$APPDIR\\lib\\app.jar", L"$APPDIR\\lib\\more.jar", L"$APPDIR\\x"},
         L"$APPDIR\\img\\splash.png"},
    };
    for (const auto& c : cases) {
        const PackOptions options = classPathApp(c.target);
        const CfgFile cfg = writeAndLoad(options, L"app.Main");
        const SectionId& app = SectionName::Application;
        EXPECT_EQ(values(cfg, app, PropertyName::classpath), c.classPath) << c.target.name;
        EXPECT_EQ(values(cfg, app, PropertyName::splash), tstring_array{c.splash});
        EXPECT_EQ(values(cfg, app, PropertyName::mainclass), tstring_array{L"app.Main"});
        EXPECT_EQ(values(cfg, app, PropertyName::winNorestart), tstring_array{L"true"});
        EXPECT_EQ(values(cfg, SectionName::JavaOptions, PropertyName::javaOptions),
                  options.javaOptions);
        EXPECT_EQ(values(cfg, SectionName::ArgOptions, PropertyName::arguments), options.arguments);
        EXPECT_EQ(cfg.section(app).count(PropertyName::mainmodule), 0u);
    }
}

TEST(CfgFileWriter, MainModuleAndClassDataArchive) {
    PackOptions options;
    options.name = L"App";
    options.target = &PackTargets::linux64;
    options.mainModule = L"app.mod/app.Main";
    options.modulePath = {L"mods", L"more/mods"};
    options.cds = true;
    const std::string text = makeCfgText(options, tstring());
    EXPECT_EQ(text, "[Application]\n"
                    "app.modulepath=$APPDIR/mods\n"
                    "app.modulepath=$APPDIR/more/mods\n"
                    "app.mainmodule=app.mod/app.Main\n"
                    "app.cds=auto\n");
    const CfgFile cfg = writeAndLoad(options, tstring());
    EXPECT_EQ(values(cfg, SectionName::Application, PropertyName::modulepath),
              (tstring_array{L"$APPDIR/mods", L"$APPDIR/more/mods"}));
}

} // namespace
