#ifndef VANTREL_STARTUPARCHIVE_H
#define VANTREL_STARTUPARCHIVE_H

#include <cstdint>

#include "UserCache.h"
#include "tstrings.h"

class CfgFile;

// The start-up archive ("app.cds=auto"): the runtime's and the application's classes, kept in
// the user's cache and mapped by every start after the one that recorded them. The one entry
// of the launch sequence: which options a start gets, and what becomes of what it recorded.
namespace StartupArchive {

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
    std::int64_t now = 0;  // nanoseconds since 1970
    bool creation = false; // this process only makes an archive, in the background
};

// Set in the environment of the background process that makes an archive.
extern const wchar_t* const creationVar;
// The variables whose options the runtime reads: a creation passes on what it needs of them.
extern const wchar_t* const optionVars[2];

// No runtime takes that long to make an archive: the creation ends then, whatever it waits for.
const unsigned creationTimeLimit = 300;

// The archive's part of one start.
struct Plan {
    tstring_array options; // go before every other Java option; all of them in a creation
    bool creation = false; // the runtime only makes the archive: the application never runs
    tstring recording;     // the class list that the runtime records; empty when none
    tstring written;       // the archive that a creation's runtime writes
    tstring dir;           // the cache folder and key of what is recorded or written
    tstring appName;
    tstring key;
    tstring launcherPath; // runs the creation in the background
    // Held while the runtime records or writes: the system frees it when the process ends,
    // however it ends, and the next start then finishes what it left.
    UserCache::FileLock lock;
};

// Never raises: a start without an archive is always possible.
Plan plan(const CfgFile& cfg, const Setup& setup);

// Publishes what the runtime recorded or wrote, and starts the creation of an archive from a
// recorded class list, which waits for the plan's lock. Never raises.
void finish(Plan& plan);

// The runtime runs in this process: finish the kept plan when the process ends, however the
// application ends it. What a process that is killed leaves, the next start finishes.
void keepForExit(Plan plan);
void finishAtExit();

} // namespace StartupArchive

#endif
