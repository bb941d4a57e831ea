#include "RuntimeLibraries.h"

#include "FileUtils.h"

namespace JavaRuntime {

const tstring launcherLibCandidate =
    FileUtils::joinPath(nativeLayout.libDir, nativeLayout.launcherLib);

} // namespace JavaRuntime
