#include "AppLauncher.h"

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "Log.h"
#include "SysInfo.h"

namespace {

tstring findJvmLib(const CfgFile& cfgFile, const tstring& runtimeDir,
                   const tstring_array& candidates) {
    const CfgSection& app = cfgFile.section(SectionName::Application);
    const auto runtime = app.find(PropertyName::runtime);

    tstring jvmDir;
    if (runtime != app.end() && !runtime->second.empty()) {
        // Used as given: a relative path stays relative to the current directory.
        jvmDir = CfgFile::lastValue(*runtime);
    } else {
        jvmDir = runtimeDir;
        LOG_TRACE(L"Property \"" << PropertyName::runtime.name() << L"\" not found in \""
                                 << SectionName::Application.name()
                                 << L"\" section of launcher config file."
                                 << L" Using Java runtime from \"" << jvmDir << L"\" directory");
    }

    for (const tstring& candidate : candidates) {
        const tstring path = (FileUtils::PathBuilder() << jvmDir << candidate).path();
        if (FileUtils::pathExists(path)) {
            return path;
        }
    }
    // A runtime named by the configuration is never silently replaced by the fallback.
    VT_RAISE(tstrings::TextBuilder() << L"Failed to find JVM in \"" << jvmDir << L"\" directory.");
}

#ifdef _WIN32
tstring extendedSearchPath(const tstring& current, const tstring& dir) {
    return current + FileUtils::pathListSeparator + dir;
}
#else
// An empty entry of LD_LIBRARY_PATH stands for the current directory: never make one.
tstring extendedSearchPath(const tstring& current, const tstring& dir) {
    return current.empty() ? dir : current + FileUtils::pathListSeparator + dir;
}
#endif

} // namespace

AppLauncher::AppLauncher()
    : AppLauncher(SysInfo::getCommandArgs(true), SysInfo::getExecutablePath()) {}

AppLauncher::AppLauncher(const tstring_array& appArgs, const tstring& launcherExePath)
    : appArgs(appArgs), launcherExePath(launcherExePath) {}

tstring AppLauncher::getCfgFilePath() const {
    const tstring fileName =
        FileUtils::stripExtension(FileUtils::lastComponent(launcherExePath)) + L".cfg";

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
        jvm->appendEnvVariable(libSearchVarName, extendedSearchPath(current, appDirectory));
    }

    jvm->setLauncherLibPath(findJvmLib(*cfgFile, fallbackRuntimeDir, jvmLibCandidates));
    jvm->appendArgument(launcherExePath);
    jvm->initFromConfigFile(*cfgFile);
    return jvm;
}
