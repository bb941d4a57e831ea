#include "AppLauncher.h"

#include <utility>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "JvmLauncher.h"
#include "Log.h"
#include "StartupArchive.h"
#include "SysInfo.h"
#include "UpdateCheck.h"
#include "UpdatePlatform.h"
#include "UserCache.h"

namespace {

tstring runtimeDirOf(const CfgFile& cfgFile, const tstring& fallbackDir) {
    const CfgSection& app = cfgFile.section(SectionName::Application);
    const auto runtime = app.find(PropertyName::runtime);
    if (runtime != app.end() && !runtime->second.empty()) {
        // Used as given: a relative path stays relative to the current directory.
        return CfgFile::lastValue(*runtime);
    }
    LOG_TRACE(L"Property \"" << PropertyName::runtime.name() << L"\" not found in \""
                             << SectionName::Application.name()
                             << L"\" section of launcher config file."
                             << L" Using Java runtime from \"" << fallbackDir << L"\" directory");
    return fallbackDir;
}

tstring findJvmLib(const tstring& jvmDir, const tstring_array& candidates) {
    for (const tstring& candidate : candidates) {
        const tstring path = (FileUtils::PathBuilder() << jvmDir << candidate).path();
        if (FileUtils::pathExists(path)) {
            return path;
        }
    }
    // A runtime named by the configuration is never silently replaced by the fallback.
    VT_RAISE(tstrings::TextBuilder() << L"Failed to find JVM in \"" << jvmDir << L"\" directory.");
}

const wchar_t* const updateTracePrefix = L"Update: ";

tstring updateTraceText(const std::exception& error) {
    const auto* own = dynamic_cast<const VtErrorBase*>(&error);
    return tstrings::fromUtf8(own ? own->bareMessage() : error.what());
}

UpdateCheck::Settings updateSettings(const CfgFile& cfgFile) {
    const CfgSection& section = cfgFile.section(SectionName::Update);
    return UpdateCheck::settingsOf([&section](const tstring& key) {
        const CfgProperty* property = findProperty(section, PropertyId(key.c_str()));
        return property ? CfgFile::lastValue(*property) : tstring();
    });
}

} // namespace

AppLauncher::AppLauncher()
    : AppLauncher(SysInfo::getCommandArgs(true), SysInfo::getExecutablePath()) {}

AppLauncher::AppLauncher(const tstring_array& appArgs, const tstring& launcherExePath)
    : appArgs(appArgs), launcherExePath(launcherExePath) {}

tstring AppLauncher::getCfgFilePath() const {
    const tstring fileName = FileUtils::appNameOfLauncher(launcherExePath) + L".cfg";

    // Per-user files come first; the first one found wins and the others are never read.
    for (const tstring& dir : cfgLookupDirs) {
        const tstring candidate = (FileUtils::PathBuilder() << dir << fileName).path();
        LOG_TRACE(L"Check [" << candidate << L"] file exit");
        if (FileUtils::pathExists(candidate)) {
            return candidate;
        }
    }
    return (FileUtils::PathBuilder() << appDirectory << fileName).path();
}

std::unique_ptr<CfgFile> AppLauncher::createCfgFile() const {
    const tstring path = getCfgFilePath();
    LOG_TRACE(L"Launcher config file path: \"" << path << L"\"");

    MacroTable macros;
    macros[L"$APPDIR"] = appDirectory;
    macros[L"$BINDIR"] = FileUtils::parentPath(launcherExePath);
    macros[L"$ROOTDIR"] = imageRootDir;

    return std::unique_ptr<CfgFile>(new CfgFile(CfgFile::load(path).resolveMacros(macros)));
}

bool AppLauncher::libSearchVarHasAppDir() const {
    const tstring value = SysInfo::getEnvVariable(std::nothrow, libSearchVarName, tstring());
    const tstring wanted = tstrings::toLower(appDirectory);
    for (const tstring& entry :
         tstrings::split(tstrings::toLower(value), tstring(1, FileUtils::pathListSeparator))) {
        if (entry == wanted) {
            return true;
        }
    }
    return false;
}

bool AppLauncher::appendArchiveOptions(Jvm& jvm, const CfgFile& cfgFile,
                                       const tstring& runtimeDir) const {
    // The background process that makes an archive must never run the application.
    const bool creation =
        SysInfo::getEnvVariable(std::nothrow, StartupArchive::creationVar, tstring()) == L"1";
    if (!jvmRunsHere || cfgFile.section(SectionName::Application).count(PropertyName::cds) == 0) {
        if (creation) {
            VT_RAISE("no class-data archive to make");
        }
        return false;
    }
    StartupArchive::Setup setup;
    setup.cacheBase = UserCache::baseDir();
    setup.packageName = packageName;
    setup.appName = FileUtils::appNameOfLauncher(launcherExePath);
    setup.launcherPath = launcherExePath;
    setup.runtimeDir = runtimeDir;
    setup.jvmLibPath = jvm.getJvmLibPath();
    // The runtime reads these too: they are part of what the archive must agree with.
    for (const wchar_t* name : StartupArchive::optionVars) {
        setup.envOptions += SysInfo::getEnvVariable(std::nothrow, name, tstring()) + L" ";
    }
    setup.processId = UserCache::processId();
    setup.now = UserCache::now();
    setup.creation = creation;
    if (creation) {
        UserCache::endAfter(StartupArchive::creationTimeLimit);
    }
    StartupArchive::Plan plan = StartupArchive::plan(cfgFile, setup);
    if (creation && !plan.creation) {
        VT_RAISE("no class-data archive to make");
    }
    if (creation) {
        // The creation takes what it needs of them as options; nothing else of them runs.
        for (const wchar_t* name : StartupArchive::optionVars) {
            jvm.appendEnvVariable(name, tstring());
        }
    }
    for (const tstring& option : plan.options) {
        jvm.appendArgument(option);
    }
    StartupArchive::keepForExit(std::move(plan));
    return creation;
}

// Beside the archive's folder, under the same name.
UpdateCheck::Setup AppLauncher::updateSetup() const {
    const tstring appName = FileUtils::appNameOfLauncher(launcherExePath);
    const tstring name = packageName.empty() ? appName : packageName;
    // The name comes from a file of the image: it must not lead out of the cache.
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"/\\:") != tstring::npos) {
        VT_RAISE(tstrings::TextBuilder() << L"\"" << name << L"\" can't name a cache directory");
    }
    const tstring base = UserCache::baseDir();
    if (base.empty()) {
        VT_RAISE("no user cache directory");
    }
    UpdateCheck::Setup setup;
    setup.dir = UserCache::makeDirectories(FileUtils::PathBuilder() << base << name << L"update");
    setup.appName = appName;
    setup.launcherPath = launcherExePath;
    setup.processId = UserCache::processId();
    setup.now = UserCache::now();
    setup.canAsk = UpdatePlatform::canAsk();
    return setup;
}

void AppLauncher::appendUpdateOptions(Jvm& jvm, const CfgFile& cfgFile) const {
    if (!jvmRunsHere || cfgFile.section(SectionName::Update).empty()) {
        return;
    }
    if (!UpdatePlatform::supported()) {
        LOG_TRACE(updateTracePrefix << L"none, the system's package manager updates here");
        return;
    }
    try {
        for (const tstring& option : UpdateCheck::atStart(updateSettings(cfgFile), updateSetup())) {
            jvm.appendArgument(option);
        }
    } catch (const std::exception& error) {
        LOG_TRACE(updateTracePrefix << L"none, " << updateTraceText(error));
    }
}

bool AppLauncher::runUpdateCheck() const {
    if (SysInfo::getEnvVariable(std::nothrow, UpdateCheck::roleVar, tstring()) != L"check") {
        return false;
    }
    try {
        UpdateCheck::check(updateSettings(*createCfgFile()), updateSetup());
    } catch (const std::exception& error) {
        LOG_TRACE(updateTracePrefix << L"no check, " << updateTraceText(error));
    }
    return true;
}

bool runUpdateInstallation(const tstring& launcherPath) {
    const tstring role = SysInfo::getEnvVariable(std::nothrow, UpdateCheck::roleVar, tstring());
    const tstring prefix = L"install:";
    if (!tstrings::startsWith(role, prefix)) {
        return false;
    }
    const tstring id = role.substr(prefix.size());
    if (!id.empty() && id.size() < 20 && id.find_first_not_of(L"0123456789") == tstring::npos) {
        UpdateCheck::install(FileUtils::parentPath(launcherPath), std::stoull(id));
    }
    return true;
}

std::unique_ptr<Jvm> AppLauncher::makeJvm() const {
    std::unique_ptr<CfgFile> cfgFile =
        presetCfgFile ? std::unique_ptr<CfgFile>(new CfgFile(*presetCfgFile)) : createCfgFile();

    if (!appArgs.empty()) {
        // Command-line arguments replace the configured ones and are not macro-expanded.
        cfgFile->putProperty(SectionName::ArgOptions, PropertyName::arguments, appArgs);
    }

    std::unique_ptr<Jvm> jvm(new Jvm());

    if (appDirectory.find(FileUtils::pathListSeparator) != tstring::npos) {
        // Split at the separator, the directory would add other folders, relative ones among
        // them, to the library search; it can't be one entry, so it isn't added at all.
        LOG_TRACE(L"Application directory holds '" << FileUtils::pathListSeparator << L"'; \""
                                                   << libSearchVarName << L"\" left as it is");
    } else if (!libSearchVarHasAppDir()) {
        const tstring current = SysInfo::getEnvVariable(std::nothrow, libSearchVarName, tstring());
        jvm->appendEnvVariable(libSearchVarName,
                               FileUtils::extendedPathList(current, appDirectory));
    }

    const tstring runtimeDir = runtimeDirOf(*cfgFile, fallbackRuntimeDir);
    jvm->setLauncherLibPath(findJvmLib(runtimeDir, jvmLibCandidates));
    jvm->appendArgument(launcherExePath);
    if (!appendArchiveOptions(*jvm, *cfgFile, runtimeDir)) {
        appendUpdateOptions(*jvm, *cfgFile);
        jvm->initFromConfigFile(*cfgFile);
    }
    return jvm;
}

ImageLauncher makeImageLauncher(const tstring& launcherPath, const tstring& libSearchVarName) {
    const tstring imageRoot = FileUtils::parentPath(launcherPath);
    const tstring appDir = FileUtils::PathBuilder() << imageRoot << L"app";
    ImageLauncher image = {PackageFile::loadFromAppDir(appDir), AppLauncher()};
    image.launcher.setImageRootDir(imageRoot)
        .addJvmLibCandidate(JavaRuntime::launcherLibCandidate)
        .setAppDirectory(appDir)
        .setLibSearchVarName(libSearchVarName)
        .setFallbackRuntimeDir(FileUtils::PathBuilder() << imageRoot << L"runtime")
        .setPackageName(image.packageFile.getPackageName());
    return image;
}
