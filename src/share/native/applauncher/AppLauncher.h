#ifndef VANTREL_APPLAUNCHER_H
#define VANTREL_APPLAUNCHER_H

#include <memory>

#include "PackageFile.h"
#include "UpdateCheck.h"
#include "tstrings.h"

class CfgFile;
class Jvm;

// Knows where the parts of the application image are; finds and loads the launcher
// configuration, locates the Java runtime and makes the Jvm that starts it.
class AppLauncher {
public:
    // Takes the process's own arguments and executable path.
    AppLauncher();
    AppLauncher(const tstring_array& appArgs, const tstring& launcherExePath);

    AppLauncher& setFallbackRuntimeDir(const tstring& v) {
        fallbackRuntimeDir = v;
        return *this;
    }
    AppLauncher& setAppDirectory(const tstring& v) {
        appDirectory = v;
        return *this;
    }
    AppLauncher& setLibSearchVarName(const tstring& v) {
        libSearchVarName = v;
        return *this;
    }
    AppLauncher& setImageRootDir(const tstring& v) {
        imageRootDir = v;
        return *this;
    }
    AppLauncher& addJvmLibCandidate(const tstring& v) {
        jvmLibCandidates.push_back(v);
        return *this;
    }
    AppLauncher& addCfgLookupDir(const tstring& v) {
        cfgLookupDirs.push_back(v);
        return *this;
    }
    // Names the application's per-user cache; the launcher's name does when it is empty.
    AppLauncher& setPackageName(const tstring& v) {
        packageName = v;
        return *this;
    }
    // False when the Jvm made only hands its environment to a restarted copy: the archive is
    // then left to the copy, which starts the JVM.
    AppLauncher& setJvmRunsHere(bool v) {
        jvmRunsHere = v;
        return *this;
    }
    // Borrowed: the caller keeps the file alive while this launcher uses it. Null lets
    // makeJvm load the file again.
    AppLauncher& setPresetCfgFile(const CfgFile* v) {
        presetCfgFile = v;
        return *this;
    }

    tstring getCfgFilePath() const;
    std::unique_ptr<CfgFile> createCfgFile() const;
    std::unique_ptr<Jvm> makeJvm() const;
    bool libSearchVarHasAppDir() const;
    // True in the background process of an update check, which has then run: the application
    // never runs there.
    bool runUpdateCheck() const;

private:
    // Before the other Java options; nothing without "app.cds" in the configuration.
    // True in the background process that only makes an archive: its options are all.
    bool appendArchiveOptions(Jvm& jvm, const CfgFile& cfgFile, const tstring& runtimeDir) const;
    // What a ready update tells the application; starts the check and the installation.
    void appendUpdateOptions(Jvm& jvm, const CfgFile& cfgFile) const;
    // Raises when the user's cache has no room for the update folder.
    UpdateCheck::Setup updateSetup() const;

    tstring_array appArgs;
    tstring launcherExePath;
    tstring fallbackRuntimeDir;
    tstring appDirectory;
    tstring libSearchVarName;
    tstring imageRootDir;
    tstring_array jvmLibCandidates;
    tstring_array cfgLookupDirs;
    tstring packageName;
    bool jvmRunsHere = true;
    const CfgFile* presetCfgFile = nullptr;
};

// The launcher of the image that launcherPath heads: its app folder and package file, the
// runtime folder beside them, and the platform's variable of library folders.
struct ImageLauncher {
    PackageFile packageFile;
    AppLauncher launcher;
};
ImageLauncher makeImageLauncher(const tstring& launcherPath, const tstring& libSearchVarName);

// True in the background process that installs an update (a copy of the launcher in the
// update folder, no image around it), which has then run.
bool runUpdateInstallation(const tstring& launcherPath);

#endif
