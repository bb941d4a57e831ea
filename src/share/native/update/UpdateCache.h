#ifndef VANTREL_UPDATECACHE_H
#define VANTREL_UPDATECACHE_H

#include <cstdint>
#include <string>

#include "UpdateMetadata.h"
#include "tstrings.h"

// The application's update folder in the user's cache: what the checks remember, and the one
// update that is ready, downloaded and verified. Nothing else stays there.
namespace UpdateCache {

// What the checks remember between starts.
struct State {
    std::int64_t checked = 0;   // nanoseconds since 1970 of the last check's start
    std::uint64_t sequence = 0; // the highest sequence of verified metadata: older is a rollback
    tstring asked;              // the version the user was last asked to install
};

// The files of the folder.
class Folder {
public:
    explicit Folder(const tstring& dir) : dir(dir) {}

    tstring state() const;
    tstring lock() const;    // held by a check and by an installation
    tstring ready() const;   // the verified metadata of the package that is ready
    tstring package() const; // the package it names
    tstring downloading() const;
    tstring installer() const; // the launcher's copy that waits and installs: the installed
                               // one may be replaced meanwhile
    tstring trace() const;     // the background processes' trace, when tracing

    // Missing or unreadable parts stay at their defaults.
    State readState() const;
    void writeState(const State& state) const;

    // The ready package's document; false when there is none that parses.
    bool readReady(UpdateMetadata::Document& document) const;
    void writeReady(const std::string& text) const;
    // Removes the ready package and its document.
    void dropReady() const;
    // Removes every file that is not the state, the lock, the trace or the ready pair.
    void tidy() const;

private:
    tstring file(const wchar_t* name) const;
    tstring dir;
};

std::string readFile(const tstring& path);
// Written beside and renamed into place. Raises when it can't be.
void writeFile(const tstring& path, const std::string& bytes);

} // namespace UpdateCache

#endif
