#include "ArchiveCache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "UserCache.h"

namespace ArchiveCache {

namespace {

const std::size_t keyDigits = 16;

// A key unused that long belongs to a copy that is gone or changed.
const std::int64_t unusedKeyNs = 30ll * 24 * 3600 * 1000000000;
// Archives of other keys kept besides the one in use, the most recently used first.
const std::size_t otherArchivesKept = 7;

// No class list is that large; a larger file is no runtime's.
const std::uint64_t maxClassListBytes = 256ull << 20;

bool isDecimal(const tstring& text) {
    return !text.empty() && text.find_first_not_of(L"0123456789") == tstring::npos;
}

bool isKey(const tstring& text) {
    return text.size() == keyDigits && text.find_first_not_of(L"0123456789abcdef") == tstring::npos;
}

// One file of the application's in the cache folder, as its name tells.
struct CacheEntry {
    enum Kind { foreign, stale, keyFile, archive, recording, temporary };

    CacheEntry(const tstring& appName, const tstring& fileName) {
        const tstring prefix = appName + L"-";
        if (fileName.compare(0, prefix.size(), prefix) != 0) {
            return;
        }
        key = fileName.substr(prefix.size(), keyDigits);
        const tstring tail = fileName.substr(std::min(fileName.size(), prefix.size() + keyDigits));
        if (!isKey(key) || tail.size() < 2 || tail[0] != L'.') {
            return;
        }
        const std::size_t dot = tail.find(L'.', 1);
        const tstring first = tail.substr(1, dot == tstring::npos ? tstring::npos : dot - 1);
        const tstring suffix = dot == tstring::npos ? tstring() : tail.substr(dot);
        // Whatever else bears a key is an older launcher's, which no start uses any more.
        kind = stale;
        if (suffix.empty() && (first == L"lock" || first == L"classlist" || first == L"recorded" ||
                               first == L"created")) {
            kind = keyFile;
        } else if (isDecimal(first) && first.size() <= 19) {
            number = std::strtoull(tstrings::toUtf8(first).c_str(), nullptr, 10);
            kind = suffix == L".jsa"         ? archive
                   : suffix == L".classlist" ? recording
                   : suffix == L".tmp"       ? temporary
                                             : stale;
        }
    }

    tstring key;
    Kind kind = foreign;
    std::uint64_t number = 0; // an archive's size, or the process id of a recording or creation
};

void removeStale(const tstring& path) {
    const bool removed = UserCache::removeFile(path);
    LOG_TRACE((removed ? L"Removed stale class-data file " : L"Can't remove stale class-data file ")
              << path);
}

// The runtime writes an archive's header last, and it begins with the magic number of a
// static archive: a file that begins with it is whole.
bool isWholeArchive(const tstring& path) {
    const unsigned char magic[] = {0xa2, 0xab, 0x0b, 0xf0};
    unsigned char head[sizeof(magic)] = {};
    const UniqueFile file = openSharedForReading(path);
    return file && std::fread(head, 1, sizeof(head), file.get()) == sizeof(head) &&
           std::equal(head, head + sizeof(head), magic);
}

// The size of the file up to its last line end: a runtime ended while it wrote may have left
// half a line. 0 when there is no whole line.
std::uint64_t wholeLinesSize(const tstring& path, std::uint64_t size) {
    const UniqueFile file = openSharedForReading(path);
    const long tail = static_cast<long>(std::min<std::uint64_t>(size, 1u << 16));
    std::vector<char> bytes(static_cast<std::size_t>(tail));
    if (!file || std::fseek(file.get(), static_cast<long>(size) - tail, SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return 0;
    }
    const auto end = std::find(bytes.rbegin(), bytes.rend(), '\n');
    return end == bytes.rend() ? 0 : size - static_cast<std::uint64_t>(end - bytes.rbegin());
}

} // namespace

tstring folder(const tstring& cacheBase, const tstring& name) {
    // The name comes from a file of the image: it must not lead out of the cache.
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"/\\:") != tstring::npos) {
        VT_RAISE(tstrings::TextBuilder() << L"\"" << name << L"\" can't name a cache directory");
    }
    if (cacheBase.empty()) {
        VT_RAISE("no user cache directory");
    }
    return UserCache::makeDirectories(FileUtils::PathBuilder() << cacheBase << name << L"cds");
}

KeyFiles::KeyFiles(const tstring& dir, const tstring& appName, const tstring& key,
                   std::uint64_t processId)
    : folderPath(dir), appName(appName), key(key),
      stem(FileUtils::joinPath(dir, appName + L"-" + key)), processId(processId) {}

tstring KeyFiles::ownFile(const wchar_t* suffix) const {
    return (tstrings::TextBuilder() << stem << L"." << processId << suffix).text();
}

tstring KeyFiles::counter(Attempt what) const {
    return stem + (what == recorded ? L".recorded" : L".created");
}

tstring KeyFiles::tidy(std::int64_t now) const {
    tstring_array names = UserCache::listDirectory(folderPath);
    std::sort(names.begin(), names.end());
    tstring usable;
    std::vector<std::pair<std::int64_t, tstring>> otherArchives;
    for (const tstring& name : names) {
        const CacheEntry entry(appName, name);
        const tstring path = FileUtils::joinPath(folderPath, name);
        UserCache::FileStamp stamp;
        if (entry.kind == CacheEntry::foreign || !UserCache::stamp(path, stamp)) {
            continue;
        }
        if (entry.kind == CacheEntry::stale) {
            removeStale(path);
        } else if (entry.key == key) {
            // A cut archive can crash the runtime: the size must be the one it was published
            // with. Concurrent creations can't both publish, but keep one whatever happened.
            if (entry.kind == CacheEntry::archive &&
                (!usable.empty() || stamp.size != entry.number)) {
                removeStale(path);
            } else if (entry.kind == CacheEntry::archive) {
                usable = path;
            }
        } else if (now - stamp.modified > unusedKeyNs) {
            removeStale(path);
        } else if (entry.kind == CacheEntry::archive) {
            otherArchives.emplace_back(stamp.modified, path);
        }
    }
    std::sort(otherArchives.rbegin(), otherArchives.rend());
    for (std::size_t i = otherArchivesKept; i < otherArchives.size(); ++i) {
        removeStale(otherArchives[i].second);
    }
    return usable;
}

tstring KeyFiles::finishLeftWork() const {
    tstring_array names = UserCache::listDirectory(folderPath);
    std::sort(names.begin(), names.end());
    tstring usable;
    for (const tstring& name : names) {
        const CacheEntry entry(appName, name);
        const tstring path = FileUtils::joinPath(folderPath, name);
        if (entry.kind == CacheEntry::foreign || entry.key != key) {
            continue;
        }
        if (entry.kind == CacheEntry::recording && adoptClassList(path)) {
            LOG_TRACE(L"Adopted the class list " << path);
        } else if (entry.kind == CacheEntry::temporary && usable.empty() && publishArchive(path)) {
            LOG_TRACE(L"Adopted class-data archive " << path);
        } else if (entry.kind == CacheEntry::temporary) {
            removeStale(path);
        }
    }
    return tidy(UserCache::now());
}

bool KeyFiles::adoptClassList(const tstring& recorded) const {
    UserCache::FileStamp stamp;
    if (!UserCache::stamp(recorded, stamp)) {
        return false;
    }
    const std::uint64_t whole =
        stamp.size > maxClassListBytes ? 0 : wholeLinesSize(recorded, stamp.size);
    const bool usable =
        whole != 0 && (whole == stamp.size || UserCache::truncateFile(recorded, whole));
    // One class list is enough: another start's may be there already.
    if (!usable || FileUtils::pathExists(classList()) ||
        !UserCache::replaceFile(recorded, classList())) {
        removeStale(recorded);
        return usable && FileUtils::pathExists(classList());
    }
    return true;
}

bool KeyFiles::publishArchive(const tstring& written) const {
    UserCache::FileStamp stamp;
    if (!UserCache::stamp(written, stamp) || stamp.size == 0 || !isWholeArchive(written)) {
        UserCache::removeFile(written);
        return false;
    }
    const tstring archive =
        (tstrings::TextBuilder() << stem << L"." << stamp.size << L".jsa").text();
    if (!UserCache::replaceFile(written, archive)) {
        UserCache::removeFile(written);
        return false;
    }
    for (const tstring& done : {classList(), counter(recorded), counter(created)}) {
        UserCache::removeFile(done);
    }
    return true;
}

std::uint64_t KeyFiles::attempts(Attempt what) const {
    UserCache::FileStamp stamp;
    return UserCache::stamp(counter(what), stamp) ? stamp.size : 0;
}

void KeyFiles::countAttempt(Attempt what) const {
    const tstring path = counter(what);
    const std::uint64_t count = attempts(what);
    if (count == 0) {
        UserCache::createNewFile(path);
    }
    if (!UserCache::truncateFile(path, count + 1)) {
        VT_RAISE(tstrings::TextBuilder() << L"can't count an attempt in " << path);
    }
}

} // namespace ArchiveCache
