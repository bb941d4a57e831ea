#include "RuntimeArchive.h"

#include <filesystem>

#include "FileUtils.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "RuntimeRelease.h"
#include "SourceDate.h"
#include "StaticArchive.h"

namespace {

// Only a runtime for this platform can run here to write its archive. A Windows or ARM runtime
// linked on Linux x86-64 stays without one: an archive is bound to the exact JVM and modules file
// it was made from. The launcher's archive needs none.
bool runsHere(const PackTarget& target) {
    return target.runsWhere(PackHost::defaultTarget());
}

// Only the archive with compressed object pointers, which every heap below 32 GB uses: the
// one without them would add as much again to the image for heaps that few applications ask.
void dumpBaseArchive(const tstring& runtimeDir) {
    const tstring java = FileUtils::PathBuilder()
                         << runtimeDir << L"bin" << tstring(L"java") + PackHost::executableSuffix;
    PackHost::runProcess(java, {L"-Xshare:dump"});
    PackHost::checkNotStopped();
}

// With SOURCE_DATE_EPOCH the packages must come out the same on every run, and some runtimes
// (JDK 17) write different bytes each time: their archive is made twice and kept only when
// both are the same.
void dumpReproducibleBaseArchive(const tstring& runtimeDir, const tstring& archive) {
    dumpBaseArchive(runtimeDir);
    if (!SourceDate::isSet() || !PackFiles::isFile(archive)) {
        return;
    }
    const std::string first = PackFiles::readFile(archive);
    std::filesystem::remove(PackFiles::fsPath(archive));
    dumpBaseArchive(runtimeDir);
    if (PackFiles::isFile(archive) && PackFiles::readFile(archive) != first) {
        std::filesystem::remove(PackFiles::fsPath(archive));
    }
}

} // namespace

namespace RuntimeArchive {

tstring complete(const tstring& runtimeDir, const PackTarget& target) {
    const int version = RuntimeRelease::featureVersion(RuntimeRelease::read(runtimeDir));
    if (version < StaticArchive::firstVersion) {
        return (tstrings::TextBuilder()
                << L"the runtime is not Java " << StaticArchive::firstVersion << L" or later")
            .text();
    }
    const tstring archive = FileUtils::PathBuilder()
                            << runtimeDir << (target.windows ? L"bin" : L"lib") << L"server"
                            << L"classes.jsa";
    if (runsHere(target) && !PackFiles::isFile(archive)) {
        dumpReproducibleBaseArchive(runtimeDir, archive);
    }
    return tstring();
}

} // namespace RuntimeArchive
