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
