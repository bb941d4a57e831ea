// Starts a Java class with a real JDK the way the launcher does, inside the launch wrapper:
//   realjvmfixture <jdk dir> <class dir> <main class> [<application argument>...]
// The JVM runs in this process. The exit code is the launch wrapper's, or whatever the Java
// program passes to System.exit.
#include "Dll.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "JvmLauncher.h"
#include "SysInfo.h"
#include "app.h"

namespace {

void launchJava() {
    const tstring_array args = SysInfo::getCommandArgs();
    if (args.size() < 3) {
        VT_RAISE("Usage: realjvmfixture <jdk dir> <class dir> <main class> [<argument>...]");
    }
    const tstring launcher = SysInfo::getExecutablePath();
    Jvm jvm;
    jvm.appendEnvVariable(L"VANTREL_REALJVM_VAR", L"set by the launcher");
    jvm.setLauncherLibPath(FileUtils::joinPath(args[0], JavaRuntime::launcherLibCandidate));
    jvm.appendArgument(launcher)
        .appendArgument(L"-classpath")
        .appendArgument(args[1])
        .appendArgument(L"-Dvantrel.app-path=" + launcher)
        .appendArgument(args[2]);
    for (std::size_t i = 3; i < args.size(); ++i) {
        jvm.appendArgument(args[i]);
    }
    // The launch sequence holds the runtime's library while the JVM runs.
    const Dll jli(tstrings::TextBuilder() << jvm.getLauncherLibPath());
    jvm.launch();
}

} // namespace

int main() {
    return app::launch(launchJava);
}
