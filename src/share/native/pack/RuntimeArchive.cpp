#include "RuntimeArchive.h"

#include "CdsArchive.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "RuntimeLinker.h"

namespace {

// JDK 13 brought archives on top of the runtime's own, which the launcher makes.
const int firstDynamicArchiveVersion = 13;

// Only a runtime for this platform can run here to write its archive. A Windows runtime
// linked on Linux stays without one: an archive is bound to the exact JVM and modules file
// it was made from, so none can be made for it here, and the image gets it when the runtime's
// own "java -Xshare:dump" runs once on Windows.
bool runsHere(const PackTarget& target) {
    return target.windows == PackHost::defaultTarget().windows;
}

tstring baseArchive(const tstring& runtimeDir, const PackTarget& target) {
    return FileUtils::PathBuilder()
           << runtimeDir << (target.windows ? L"bin" : L"lib") << L"server" << L"classes.jsa";
}

// The archives for both kinds of object pointers, as jlink's plugin makes them: a large heap
// needs the second one.
void dumpBaseArchives(const tstring& runtimeDir, const PackTarget& target) {
    const tstring java = FileUtils::PathBuilder()
                         << runtimeDir << L"bin" << tstring(L"java") + PackHost::executableSuffix;
    const tstring serverDir = FileUtils::parentPath(baseArchive(runtimeDir, target));
    for (const tstring_array& args :
         {tstring_array{L"-Xshare:dump"},
          tstring_array{L"-XX:-UseCompressedOops", L"-Xshare:dump",
                        L"-XX:SharedArchiveFile=" +
                            FileUtils::joinPath(serverDir, L"classes_nocoops.jsa")}}) {
        PackHost::runProcess(java, args);
        PackHost::checkNotStopped();
    }
}

} // namespace

namespace RuntimeArchive {

tstring_array linkArguments(const tstring& jdk, const PackTarget& target) {
    if (!runsHere(target)) {
        return tstring_array();
    }
    const PackHost::ProcessResult plugins =
        PackHost::runProcess(RuntimeLinker::jdkTool(jdk, L"jlink"), {L"--list-plugins"});
    PackHost::checkNotStopped();
    return plugins.exitCode == 0 && plugins.out.find("--generate-cds-archive") != std::string::npos
               ? tstring_array{L"--generate-cds-archive"}
               : tstring_array();
}

tstring complete(const tstring& runtimeDir, const PackTarget& target) {
    const tstring archive = baseArchive(runtimeDir, target);
    const int version = CdsArchive::javaFeatureVersion(CdsArchive::readRelease(runtimeDir));
    if (version < firstDynamicArchiveVersion) {
        return (tstrings::TextBuilder()
                << L"the runtime is not Java " << firstDynamicArchiveVersion << L" or later")
            .text();
    }
    if (!PackFiles::isFile(archive) && runsHere(target)) {
        dumpBaseArchives(runtimeDir, target);
    }
    if (PackFiles::isFile(archive)) {
        return tstring();
    }
    return (tstrings::TextBuilder()
            << L"the runtime has no base archive " << archive
            << (runsHere(target) ? L"" : L" (run its java -Xshare:dump once on Windows)"))
        .text();
}

} // namespace RuntimeArchive
