#include "CfgFileWriter.h"

#include "CfgFile.h"
#include "PackageOptions.h"
#include "UpdateSite.h"

namespace {

class CfgTextBuilder {
public:
    void section(const SectionId& id) {
        text << (text.text().empty() ? L"[" : L"\n[") << id.name() << L"]\n";
    }
    void property(const PropertyId& id, const tstring& value) {
        text << id.name() << L'=' << value << L'\n';
    }
    void properties(const PropertyId& id, const tstring_array& values) {
        for (const tstring& value : values) {
            property(id, value);
        }
    }
    std::string utf8() const { return text.utf8(); }

private:
    tstrings::TextBuilder text;
};

tstring_array appDirPaths(const PackTarget& target, const tstring_array& relativePaths) {
    tstring_array result;
    for (const tstring& path : relativePaths) {
        result.push_back(appDirPath(target, path));
    }
    return result;
}

void writeApplication(CfgTextBuilder& cfg, const PackOptions& options, const tstring& mainClass) {
    const PackTarget& target = *options.target;
    cfg.section(SectionName::Application);
    if (!options.mainJar.empty()) {
        cfg.property(PropertyName::classpath, appDirPath(target, options.mainJar));
    }
    cfg.properties(PropertyName::classpath, appDirPaths(target, options.classPath));
    cfg.properties(PropertyName::modulepath, appDirPaths(target, options.modulePath));
    if (!options.mainModule.empty()) {
        cfg.property(PropertyName::mainmodule, options.mainModule);
    } else {
        cfg.property(PropertyName::mainclass, mainClass);
    }
    if (!options.splash.empty()) {
        cfg.property(PropertyName::splash, appDirPath(target, options.splash));
    }
    if (options.noRestart) {
        cfg.property(PropertyName::winNorestart, L"true");
    }
    if (options.cds) {
        cfg.property(PropertyName::cds, L"auto");
    }
}

// Read by the launcher's update check; launchers before it ignore the section. The version is
// the running one, which only a newer one replaces.
void writeUpdate(CfgTextBuilder& cfg, const PackOptions& options) {
    const PackageOptions& package = options.package;
    if (package.updateUrl.empty()) {
        return;
    }
    cfg.section(SectionId(L"Update"));
    cfg.property(PropertyId(L"url"), package.updateUrl);
    cfg.property(PropertyId(L"metadata"), package.updateMetadata);
    cfg.property(PropertyId(L"key"), package.updatePublicKey);
    cfg.property(PropertyId(L"check"), package.updateCheck);
    cfg.property(PropertyId(L"mode"), package.updateMode);
    const tstring version = PackageNames::versionText(options);
    UpdateMetadata::VersionOrder order{};
    UpdateSite::versionOrder(version, order);
    cfg.property(PropertyId(L"version"), version);
    cfg.property(PropertyId(L"order"), UpdateMetadata::orderText(order));
}

} // namespace

tstring appDirPath(const PackTarget& target, const tstring& relativePath) {
    tstring path = L"$APPDIR";
    path += target.separator;
    for (const wchar_t c : relativePath) {
        path += c == L'/' || c == L'\\' ? target.separator : c;
    }
    return path;
}

std::string makeCfgText(const PackOptions& options, const tstring& mainClass) {
    CfgTextBuilder cfg;
    writeApplication(cfg, options, mainClass);
    if (!options.javaOptions.empty()) {
        cfg.section(SectionName::JavaOptions);
        cfg.properties(PropertyName::javaOptions, options.javaOptions);
    }
    if (!options.arguments.empty()) {
        cfg.section(SectionName::ArgOptions);
        cfg.properties(PropertyName::arguments, options.arguments);
    }
    writeUpdate(cfg, options);
    return cfg.utf8();
}

std::string makeExtraCfgText(const PackOptions& options, const ExtraLauncher& launcher) {
    PackOptions extra = options;
    extra.arguments.clear();
    extra.splash.clear();
    extra.package.updateUrl.clear();
    return makeCfgText(extra, launcher.mainClass);
}
