#include "LaunchSequence.h"

void addUserCfgLookupDir(AppLauncher& appLauncher, const tstring& baseDir,
                         const tstring& packageName) {
    if (!baseDir.empty()) {
        appLauncher.addCfgLookupDir(FileUtils::PathBuilder() << baseDir << packageName);
    }
}
