#ifndef VANTREL_LAUNCHSEQUENCE_H
#define VANTREL_LAUNCHSEQUENCE_H

#include <memory>

#include "AppLauncher.h"
#include "Dll.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "JvmLauncher.h"
#include "SysInfo.h"
#include "tstrings.h"

// The package's folder in baseDir, unless baseDir is empty. Out of line: it runs once per base
// folder.
void addUserCfgLookupDir(AppLauncher& appLauncher, const tstring& baseDir,
                         const tstring& packageName);

// The optional steps of the hooks, doing nothing. A platform that restarts defines needRestart
// and restart together.
struct LaunchHookDefaults {
    // May read the configuration early and lend it to appLauncher.
    bool needRestart(AppLauncher& /*appLauncher*/) { return false; }
    // Runs the application in a copy of the launcher, which inherits the JVM's environment
    // variables, and ends this process with the copy's exit code.
    void restart(const tstring& /*launcherPath*/) {}
    void prepareRuntimeBinDir(const tstring& /*dir*/) {}
    void beforeLaunch(const Jvm& /*jvm*/) {}
};

// Launches the application of the image that this executable heads, the same way on every
// platform. Hooks holds the steps that each platform does its own way: those of
// LaunchHookDefaults, and
//   const wchar_t* libSearchVarName()  the variable of library folders that must list the
//                                      application folder;
//   void forEachUserConfigDir(F f)     calls f with each base folder of per-user configuration,
//                                      first match wins; asked only when the image has a
//                                      package name;
//   std::unique_ptr<Dll> loadRuntimeLibrary(const tstring& path).
// A template rather than virtual functions: each launcher has one kind of hooks, and the
// launchers must stay small.
template <class Hooks>
void runLaunchSequence(Hooks& hooks) {
    const tstring launcherPath = SysInfo::getExecutablePath();
    if (runUpdateInstallation(launcherPath)) {
        return;
    }
    ImageLauncher image = makeImageLauncher(launcherPath, hooks.libSearchVarName());
    AppLauncher& appLauncher = image.launcher;
    const tstring& packageName = image.packageFile.getPackageName();
    if (!packageName.empty()) {
        hooks.forEachUserConfigDir([&appLauncher, &packageName](const tstring& dir) {
            addUserCfgLookupDir(appLauncher, dir, packageName);
        });
    }

    if (appLauncher.runUpdateCheck()) {
        return;
    }

    const bool restart = hooks.needRestart(appLauncher);
    appLauncher.setJvmRunsHere(!restart);
    std::unique_ptr<Jvm> jvm = appLauncher.makeJvm();
    if (restart) {
        jvm->applyEnvVariables();
        jvm.reset();
        hooks.restart(launcherPath);
        return;
    }

    const tstring runtimeBinDir = FileUtils::parentPath(jvm->getLauncherLibPath());
    hooks.prepareRuntimeBinDir(runtimeBinDir);
    const std::unique_ptr<Dll> jliDll = hooks.loadRuntimeLibrary(jvm->getLauncherLibPath());
    std::unique_ptr<Dll> splashDll;
    if (jvm->hasSplashOption()) {
        // The splash library needs the JVM library, which lies outside its own search path,
        // loaded while it loads; not afterwards.
        const std::unique_ptr<Dll> jvmDll = hooks.loadRuntimeLibrary(jvm->getJvmLibPath());
        splashDll = hooks.loadRuntimeLibrary(
            FileUtils::PathBuilder() << runtimeBinDir << JavaRuntime::nativeLayout.splashLib);
    }
    hooks.beforeLaunch(*jvm);
    jvm->launch();
}

#endif
