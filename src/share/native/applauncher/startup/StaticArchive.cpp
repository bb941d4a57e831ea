#include "StaticArchive.h"

namespace StaticArchive {

namespace {

// JDK 24 links classes ahead of time into a static archive; JDK 25 logs under "aot" as well.
const int firstClassLinkingVersion = 24;
const int firstAotLogTagVersion = 25;

// The runtime warns on the standard output of every class it can't archive and of an archive
// it can't use: that is the application's output. Options of the configuration come later
// and can still ask for such a log.
tstring_array quiet(int version) {
    tstring_array options{L"-Xlog:cds*=off"};
    if (version >= firstAotLogTagVersion) {
        options.push_back(L"-Xlog:aot*=off");
    }
    return options;
}

} // namespace

tstring_array recordOptions(const tstring& classList, int version) {
    tstring_array options = quiet(version);
    options.push_back(L"-XX:DumpLoadedClassList=" + classList);
    return options;
}

tstring_array createOptions(const tstring& classList, const tstring& archive, int version) {
    tstring_array options = quiet(version);
    options.insert(options.end(), {L"-Xshare:dump", L"-XX:SharedClassListFile=" + classList,
                                   L"-XX:SharedArchiveFile=" + archive});
    if (version >= firstClassLinkingVersion) {
        options.push_back(L"-XX:+AOTClassLinking");
    }
    return options;
}

tstring_array useOptions(const tstring& archive, int version) {
    tstring_array options = quiet(version);
    options.push_back(L"-XX:SharedArchiveFile=" + archive);
    return options;
}

} // namespace StaticArchive
