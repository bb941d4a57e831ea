#ifndef VANTREL_CDSARCHIVE_H
#define VANTREL_CDSARCHIVE_H

#include <cstdint>
#include <string>

#include "tstrings.h"

class CfgFile;

// A class-data archive of the application's own classes, made by the runtime on a first start
// and kept in the user's cache ("app.cds=auto"): which options a start gets, and what becomes
// of a new archive when the process ends.
namespace CdsArchive {

// What one start knows of its surroundings.
struct Setup {
    tstring cacheBase;   // the user's cache directory; empty when there is none
    tstring packageName; // names the application's cache directory; else appName does
    tstring appName;     // the launcher's file name without extension; archive names start with it
    tstring launcherPath;
    tstring runtimeDir;
    tstring jvmLibPath; // the runtime's JVM library
    tstring envOptions; // what the runtime takes from its option variables, space-separated
    std::uint64_t processId = 0;
    std::int64_t now = 0;     // nanoseconds since 1970
    bool aotCreation = false; // this process only creates an AOT cache, in the background
};

// Set in the environment of the background process that creates an AOT cache.
extern const wchar_t* const aotCreationVar;

// The archive's part of one start.
struct Plan {
    tstring_array options; // go before every other Java option
    tstring written;       // what the runtime writes at its exit; empty when it writes nothing
    tstring publishStem;   // the finished file is renamed to <stem>.<size><publishSuffix>
    tstring publishSuffix; // ".jsa" or ".aot"
    tstring configuration; // a recorded AOT configuration is renamed to this, then used
    tstring triedMark;     // left before the start; removed once its archive is published
    tstring launcherPath;  // runs the background creation of an AOT cache
    bool creation = false; // the runtime only creates an AOT cache: the application never runs
};

// The text of a runtime's "release" file; empty when it has none.
std::string readRelease(const tstring& runtimeDir);
// The feature version from the text of a runtime's "release" file ("1.8.0" is 8); 0 when
// unknown.
int javaFeatureVersion(const std::string& releaseText);
// The value of one "NAME=..." line of a runtime's "release" file, without its quotes; empty
// when there is none.
std::string releaseProperty(const std::string& releaseText, const std::string& name);

// Never raises: a start without an archive is always possible.
Plan plan(const CfgFile& cfg, const Setup& setup);

// Publishes what the runtime wrote, or marks that it wrote nothing.
void finish(const Plan& plan);

// The runtime runs in this process: finish the kept plan when the process ends, however the
// application ends it.
void keepForExit(const Plan& plan);
void finishAtExit();

} // namespace CdsArchive

#endif
