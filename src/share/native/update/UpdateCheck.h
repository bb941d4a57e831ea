#ifndef VANTREL_UPDATECHECK_H
#define VANTREL_UPDATECHECK_H

#include <cstdint>
#include <functional>

#include "UpdateCache.h"
#include "UpdateMetadata.h"
#include "tstrings.h"

// The launcher's update check, out of the start's way: a start only reads what earlier checks
// left in the cache, and starts the check and the installation as processes of their own, so
// that no start ever waits for the network or fails because of it. Every decision is traced.
namespace UpdateCheck {

// The configuration's [Update] section.
struct Settings {
    tstring url;      // the site, ending with '/'
    tstring metadata; // relative to url: windows/NAME/update-msi.txt
    std::string key;  // X||Y of the P-256 public key
    tstring check;    // every-start, daily, weekly or never
    tstring mode;     // auto or ask
    tstring version;  // the running version, as packed
    UpdateMetadata::VersionOrder order{};
};
// value(key) gives the section's value, empty when missing. Raises when a value can't be used.
Settings settingsOf(const std::function<tstring(const tstring&)>& value);

// What one start knows of its surroundings.
struct Setup {
    tstring dir;          // the application's update folder in the user's cache
    tstring appName;      // titles the question
    tstring launcherPath; // runs the check in the background
    std::uint64_t processId = 0;
    std::int64_t now = 0; // nanoseconds since 1970
    bool canAsk = false;  // a windowed launcher
};

// Set in the environment of the background processes: "check", or "install:PID" for the
// installation that waits for the start PID to end.
extern const wchar_t* const roleVar;

// The start's part: the Java options that tell the application of a ready update; starts the
// installation (or asks for it) and the check when they are due. Never raises.
tstring_array atStart(const Settings& settings, const Setup& setup);
// The background check: fetches and verifies the metadata, downloads and verifies the package
// into the cache. Never raises.
void check(const Settings& settings, const Setup& setup);
// The background installation, run by the launcher's copy in dir: waits for the start to end,
// then runs the ready package's installer. Never raises.
void install(const tstring& dir, std::uint64_t startProcess);

// Whether a start checks, given the last check's start and now (nanoseconds since 1970).
bool checkDue(const tstring& check, std::int64_t lastCheck, std::int64_t now);
// Why verified metadata is not taken; empty when it names a newer package of this application.
tstring refusal(const UpdateMetadata::Document& document, const Settings& settings,
                const UpdateCache::State& state);

} // namespace UpdateCheck

#endif
