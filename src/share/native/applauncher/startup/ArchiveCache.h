#ifndef VANTREL_ARCHIVECACHE_H
#define VANTREL_ARCHIVECACHE_H

#include <cstdint>

#include "tstrings.h"

// The user's cache folder of one application's archives, and the files of one key in it:
//   <app>-<key>.<size>.jsa       the archive, published once whole
//   <app>-<key>.classlist        the classes a start loaded, which an archive is made from
//   <app>-<key>.<pid>.classlist  what the runtime of a start records, or did until it ended
//   <app>-<key>.<pid>.tmp        what the runtime of a creation writes, or did until it ended
//   <app>-<key>.lock             locked by the one process that records or creates for the key;
//                                the system frees it when that process ends, however it ends
//   <app>-<key>.recorded         its size counts the starts that recorded a class list
//   <app>-<key>.created          its size counts the creations tried
// Several keys live side by side (two installed copies, an option that changes between
// starts); a key unused for a month goes, and so do the oldest archives beyond a few.
// Anything else in the folder is left alone.
namespace ArchiveCache {

// <base>/<name>/cds, made private to this user, as checked: what is used from then on.
tstring folder(const tstring& cacheBase, const tstring& name);

class KeyFiles {
public:
    KeyFiles(const tstring& dir, const tstring& appName, const tstring& key,
             std::uint64_t processId);

    const tstring& dir() const { return folderPath; }
    tstring lock() const { return stem + L".lock"; }
    tstring classList() const { return stem + L".classlist"; }
    tstring recording() const { return ownFile(L".classlist"); }
    tstring creating() const { return ownFile(L".tmp"); }

    // Removes what no start can use, and returns the key's archive; empty when there is none.
    tstring tidy(std::int64_t now) const;

    // Only with the key's lock: finishes what processes that have ended left of this key, and
    // returns its archive; empty when there is none.
    tstring finishLeftWork() const;
    // Only with the key's lock: a recorded class list becomes the key's; false when it holds
    // nothing.
    bool adoptClassList(const tstring& recorded) const;
    // Only with the key's lock: a whole archive becomes the key's, and what it was made from
    // goes; false when it isn't whole.
    bool publishArchive(const tstring& written) const;

    enum Attempt { recorded, created };
    std::uint64_t attempts(Attempt what) const;
    void countAttempt(Attempt what) const;

private:
    tstring ownFile(const wchar_t* suffix) const;
    tstring counter(Attempt what) const;

    tstring folderPath;
    tstring appName;
    tstring key;
    tstring stem;
    std::uint64_t processId;
};

} // namespace ArchiveCache

#endif
