#include "CdsArchive.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <limits>
#include <set>
#include <stdexcept>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarManifest.h"
#include "Log.h"
#include "TextFileReader.h"
#include "UserCache.h"

namespace CdsArchive {

namespace {

// JDK 13 brought -XX:ArchiveClassesAtExit, JDK 24 the AOT cache, JDK 25 the "aot" log tag.
const int firstDynamicArchiveVersion = 13;
const int firstAotCacheVersion = 24;
const int firstAotLogTagVersion = 25;

// A runtime that fails to write its archive ends the process with exit code 1, whatever the
// application returned: make none without ample room.
const std::uint64_t minFreeBytes = 256ull << 20;

// No runtime takes that long to write an archive: an older temporary file is left from a
// start that was killed while writing.
const std::int64_t abandonedAfterNs = 10ll * 60 * 1000000000;

const std::size_t keyDigits = 16;

// Bounds the jars whose manifests a start reads, whatever their "Class-Path" chains hold, and
// the files it stamps, whatever the folders hold.
const std::size_t maxManifests = 1000;
const std::size_t maxStamped = 20000;

// A heap this large may turn compressed oops off (at 32 GB they surely are), and the runtime
// then needs a base archive made without them. 30 GB leaves room for alignment.
const std::uint64_t compressedOopsHeapLimit = 30ull << 30;

// Options with which the configuration manages class-data sharing itself.
const wchar_t* const sharingOptions[] = {L"-Xshare:",
                                         L"-XX:SharedArchiveFile",
                                         L"-XX:ArchiveClassesAtExit",
                                         L"-XX:+AutoCreateSharedArchive",
                                         L"-XX:-AutoCreateSharedArchive",
                                         L"-XX:AOTMode",
                                         L"-XX:AOTCache",
                                         L"-XX:AOTConfiguration"};

// No creation of an AOT cache takes that long: the background process ends then.
const unsigned aotCreationTimeLimit = 300;

tstring_array valuesOf(const CfgFile& cfg, const SectionId& section, const PropertyId& id) {
    const CfgProperty* property = findProperty(cfg.section(section), id);
    return property ? property->second : tstring_array();
}

tstring_array javaOptionsOf(const CfgFile& cfg, const SectionId& section) {
    return valuesOf(cfg, section, PropertyName::javaOptions);
}

// Every file that the runtime checks an archive against, with what tells its versions apart.
class KeyText {
public:
    KeyText& add(const wchar_t* label, const tstring& value) {
        text << label << L' ' << value << L'\n';
        return *this;
    }

    KeyText& addFile(const wchar_t* label, const tstring& path) {
        addStamped(label, path);
        return *this;
    }

    KeyText& addPathList(const wchar_t* label, const tstring_array& values,
                         KeyText& (KeyText::*addEntry)(const wchar_t*, const tstring&)) {
        for (const tstring& value : values) {
            for (const tstring& entry :
                 tstrings::split(value, tstring(1, FileUtils::pathListSeparator))) {
                if (!entry.empty()) {
                    (this->*addEntry)(label, entry);
                }
            }
        }
        return *this;
    }

    // A jar on the class path brings the files that its manifest's "Class-Path" names, which
    // the runtime checks an archive against as well. A folder of classes there makes the runtime
    // fail the start when it writes an archive: noted, the archive is left out.
    KeyText& addClassPathFile(const wchar_t* label, const tstring& path) {
        if (!addStamped(label, path)) {
            if (!isWildcard(path) && isDirectory(path) && classFolder.empty()) {
                classFolder = path;
            }
            return *this;
        }
        if (!manifestsRead.insert(path).second || manifestsRead.size() > maxManifests) {
            return *this;
        }
        std::string manifest;
        try {
            manifest = JarManifest::read(path);
        } catch (const std::exception&) {
            return add(L" manifest", L"unreadable"); // the runtime can't use it either
        }
        for (const tstring& entry :
             JarManifest::classPathOf(FileUtils::parentPath(path), manifest)) {
            addClassPathFile(L" manifest", entry);
        }
        return *this;
    }

    // A module path folder holds jars; a folder in it, or one that is a module itself, is an
    // exploded module, which the runtime can't archive either.
    KeyText& addModulePathEntry(const wchar_t* label, const tstring& path) {
        const tstring_array folders = addStamped(label, path) ? tstring_array() : subfolders;
        if (classFolder.empty() && !folders.empty()) {
            classFolder = folders.front();
        } else if (classFolder.empty() &&
                   FileUtils::pathExists(FileUtils::joinPath(path, L"module-info.class"))) {
            classFolder = path;
        }
        return *this;
    }

    KeyText& addEach(const wchar_t* label, const tstring_array& values) {
        for (const tstring& value : values) {
            add(label, value);
        }
        return *this;
    }

    // FNV-1a: stable everywhere, and a collision costs no more than the runtime's own checks.
    tstring hash() const {
        std::uint64_t value = 14695981039346656037ull;
        for (const unsigned char byte : tstrings::toUtf8(text.text())) {
            value = (value ^ byte) * 1099511628211ull;
        }
        wchar_t digits[keyDigits + 1];
        for (std::size_t i = 0; i < keyDigits; ++i) {
            digits[i] = L"0123456789abcdef"[(value >> (60 - 4 * i)) & 0xF];
        }
        digits[keyDigits] = L'\0';
        return digits;
    }

    // The first folder of classes on the class or module path; empty when there is none.
    tstring classFolder;

private:
    static bool isWildcard(const tstring& path) {
        return tstrings::endsWith(path, L"/*") || tstrings::endsWith(path, L"\\*");
    }

    static bool isDirectory(const tstring& path) {
        UserCache::FileStamp stamp;
        return UserCache::stamp(path, stamp) && stamp.directory;
    }

    // A directory stands for the files right in it, as a module path or a "dir/*" class path
    // entry: one level only, so that no link can lead the walk in circles or out of the
    // application's folders. True for a file that is no directory; subfolders lists the
    // directory's own folders.
    bool addStamped(const wchar_t* label, tstring path) {
        subfolders.clear();
        if (isWildcard(path)) {
            path.resize(path.size() - 2);
        }
        const UserCache::FileStamp stamp = stampCounted(label, path);
        if (!stamp.directory) {
            return stamp.modified != missing;
        }
        tstring_array names = UserCache::listDirectory(path);
        std::sort(names.begin(), names.end());
        for (const tstring& name : names) {
            const tstring entry = FileUtils::joinPath(path, name);
            if (stampCounted(L" entry", entry).directory) {
                subfolders.push_back(entry);
            }
        }
        return false;
    }

    UserCache::FileStamp stampCounted(const wchar_t* label, const tstring& path) {
        if (++stamped > maxStamped) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"more than " << maxStamped << L" files on the class and module paths");
        }
        UserCache::FileStamp stamp;
        if (!UserCache::stamp(path, stamp)) {
            add(label, path + L" missing");
            stamp.modified = missing;
            return stamp;
        }
        add(label, (tstrings::TextBuilder() << path << L' ' << stamp.size << L' ' << stamp.modified)
                       .text());
        return stamp;
    }

    static constexpr std::int64_t missing = INT64_MIN;
    tstrings::TextBuilder text;
    std::set<tstring> manifestsRead;
    tstring_array subfolders;
    std::size_t stamped = 0;
};

struct ArchiveKey {
    tstring hash;
    tstring classFolder; // the first folder of classes on the paths; empty when none
};

ArchiveKey archiveKey(const CfgFile& cfg, const Setup& setup, const std::string& release) {
    const SectionId& app = SectionName::Application;
    KeyText key;
    key.add(L"release", tstrings::fromUtf8(release))
        .addFile(L"jvm", setup.jvmLibPath)
        .addFile(L"launcher", setup.launcherPath)
        .addPathList(L"modulepath", valuesOf(cfg, app, PropertyName::modulepath),
                     &KeyText::addModulePathEntry)
        .addPathList(L"classpath", valuesOf(cfg, app, PropertyName::classpath),
                     &KeyText::addClassPathFile);
    for (const tstring& jar : valuesOf(cfg, app, PropertyName::mainjar)) {
        key.addClassPathFile(L"mainjar", jar);
    }
    key.addEach(L"mainmodule", valuesOf(cfg, app, PropertyName::mainmodule))
        .addEach(L"mainclass", valuesOf(cfg, app, PropertyName::mainclass))
        .addEach(L"option", javaOptionsOf(cfg, SectionName::JavaOptions))
        .addEach(L"use-option", javaOptionsOf(cfg, SectionName::AppCDSJavaOptions))
        .addEach(L"make-option", javaOptionsOf(cfg, SectionName::AppCDSGenerateCacheJavaOptions))
        .add(L"environment", setup.envOptions);
    return {key.hash(), key.classFolder};
}

bool isDecimal(const tstring& text) {
    return !text.empty() && text.find_first_not_of(L"0123456789") == tstring::npos;
}

bool isKey(const tstring& text) {
    return text.size() == keyDigits && text.find_first_not_of(L"0123456789abcdef") == tstring::npos;
}

// The files of one application in its cache directory:
//   <app>-<key>.<size>.jsa      a class-data archive, published at the exit of the start that
//                               made it
//   <app>-<key>.<size>.aot      an AOT cache, published by the process that created it
//   <app>-<key>.<pid>.tmp       what the runtime of a start is writing, or was when killed
//   <app>-<key>.<pid>.aottmp    the same for an AOT cache
//   <app>-<key>.<pid>.conftmp   an AOT configuration that a start is recording
//   <app>-<key>.aotconf         a recorded AOT configuration, from which the cache is created
//   <app>-<key>.tried           left before a start that makes an archive or records; stays
//                               when the runtime ended that start without one
//   <app>-<key>.creating        left by the one background process that creates the AOT cache
// Older launchers' <app>-<key>.jsa and .failed go with the rest of what no start can use;
// anything else in the directory is left alone.
struct CacheEntry {
    enum Kind { other, stale, published, temporary, recording, mark };

    CacheEntry(const tstring& appName, const tstring& fileName) {
        const tstring prefix = appName + L"-";
        if (fileName.compare(0, prefix.size(), prefix) != 0) {
            return;
        }
        key = fileName.substr(prefix.size(), keyDigits);
        const tstring tail = fileName.substr(std::min(fileName.size(), prefix.size() + keyDigits));
        if (!isKey(key) || tail.empty() || tail[0] != L'.') {
            return;
        }
        const size_t dot = tail.find(L'.', 1);
        const tstring middle = tail.substr(1, dot == tstring::npos ? tstring::npos : dot - 1);
        suffix = dot == tstring::npos ? tail : tail.substr(dot);
        if (dot == tstring::npos) {
            kind = suffix == L".tried" || suffix == L".creating" || suffix == L".aotconf" ? mark
                   : suffix == L".jsa" || suffix == L".failed"                            ? stale
                                                                                          : other;
        } else if (isDecimal(middle)) {
            number = std::strtoull(tstrings::toUtf8(middle).c_str(), nullptr, 10);
            kind = suffix == L".jsa" || suffix == L".aot"      ? published
                   : suffix == L".tmp" || suffix == L".aottmp" ? temporary
                   : suffix == L".conftmp"                     ? recording
                                                               : other;
        }
    }

    tstring key;
    tstring suffix;
    Kind kind = other;
    std::uint64_t number = 0; // the size of a published file, the pid of one being written
};

// The runtime writes an archive's header last, beginning with its magic number (one for an
// archive on top of the base one, one for a static archive such as an AOT cache): a file that
// begins with it is complete even when the start that made it could not publish it.
bool isCompleteArchive(const tstring& path, bool aotCache) {
    const unsigned char magic[] = {aotCache ? std::uint8_t(0xa2) : std::uint8_t(0xa8), 0xab, 0x0b,
                                   0xf0};
    unsigned char head[sizeof(magic)] = {};
    const UniqueFile file = openSharedForReading(path);
    return file && std::fread(head, 1, sizeof(head), file.get()) == sizeof(head) &&
           std::equal(head, head + sizeof(head), magic);
}

tstring publish(const tstring& written, const tstring& stem, std::uint64_t size,
                const tstring& suffix) {
    const tstring archive = (tstrings::TextBuilder() << stem << L"." << size << suffix).text();
    return UserCache::replaceFile(written, archive) ? archive : tstring();
}

void removeStale(const tstring& path) {
    const bool removed = UserCache::removeFile(path);
    LOG_TRACE((removed ? L"Removed stale class-data file " : L"Can't remove stale class-data file ")
              << path);
}

// Removes what no start of this version of the application can use, and returns the path of
// the published archive or cache that it can use, if any.
tstring tidyCacheDir(const tstring& dir, const Setup& setup, const tstring& key) {
    tstring_array names = UserCache::listDirectory(dir);
    std::sort(names.begin(), names.end());
    const tstring stem = FileUtils::joinPath(dir, setup.appName + L"-" + key);
    tstring usable;
    for (const tstring& name : names) {
        const CacheEntry entry(setup.appName, name);
        if (entry.kind == CacheEntry::other || entry.kind == CacheEntry::mark) {
            if (entry.kind == CacheEntry::mark && entry.key != key) {
                removeStale(FileUtils::joinPath(dir, name));
            }
            continue;
        }
        const tstring path = FileUtils::joinPath(dir, name);
        UserCache::FileStamp stamp;
        const bool exists = UserCache::stamp(path, stamp);
        const bool abandoned = exists && setup.now - stamp.modified > abandonedAfterNs;
        const bool aot = tstrings::startsWith(entry.suffix, L".aot", tstrings::Exact);
        if (entry.key != key || entry.kind == CacheEntry::stale) {
            removeStale(path);
        } else if (entry.kind == CacheEntry::published) {
            // A cut archive can crash the runtime: the size must be the one it was published
            // with. Concurrent starts may have published one each: keep one.
            if (usable.empty() && exists && stamp.size == entry.number) {
                usable = path;
            } else {
                removeStale(path);
            }
        } else if (entry.kind == CacheEntry::temporary && exists && isCompleteArchive(path, aot)) {
            // Left by a process that the runtime ended in a way this launcher could not see.
            const tstring adopted = publish(path, stem, stamp.size, aot ? L".aot" : L".jsa");
            if (!adopted.empty()) {
                LOG_TRACE(L"Adopted class-data archive " << path);
                usable = usable.empty() ? adopted : usable;
            }
        } else if (abandoned) {
            removeStale(path);
        }
    }
    if (!usable.empty()) {
        UserCache::removeFile(stem + L".tried");
    }
    return usable;
}

tstring appCacheDir(const Setup& setup) {
    const tstring name = setup.packageName.empty() ? setup.appName : setup.packageName;
    // The name comes from a file of the image: it must not lead out of the cache.
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"/\\:") != tstring::npos) {
        VT_RAISE(tstrings::TextBuilder() << L"\"" << name << L"\" can't name a cache directory");
    }
    if (setup.cacheBase.empty()) {
        VT_RAISE("no user cache directory");
    }
    return FileUtils::PathBuilder() << setup.cacheBase << name << L"cds";
}

// Every Java option of a start: the configuration's and those the runtime reads from the
// environment.
tstring_array allJavaOptions(const CfgFile& cfg, const Setup& setup) {
    tstring_array options = tstrings::split(setup.envOptions, L" ");
    for (const SectionId* section : {&SectionName::JavaOptions, &SectionName::AppCDSJavaOptions,
                                     &SectionName::AppCDSGenerateCacheJavaOptions}) {
        const tstring_array more = javaOptionsOf(cfg, *section);
        options.insert(options.end(), more.begin(), more.end());
    }
    return options;
}

bool hasOptionStartingWith(const tstring_array& options, const wchar_t* prefix) {
    return std::any_of(options.begin(), options.end(), [prefix](const tstring& option) {
        return tstrings::startsWith(option, prefix, tstrings::Exact);
    });
}

bool managesSharingItself(const tstring_array& options) {
    return std::any_of(
        std::begin(sharingOptions), std::end(sharingOptions),
        [&options](const wchar_t* prefix) { return hasOptionStartingWith(options, prefix); });
}

// A size as the runtime's options spell it ("512m", "40G", "1073741824"); 0 when it isn't one.
std::uint64_t sizeOption(const tstring& text) {
    const std::size_t digits = std::min(text.find_first_not_of(L"0123456789"), text.size());
    if (digits == 0 || text.size() > digits + 1) {
        return 0;
    }
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    if (digits > 15) {
        return largest;
    }
    const std::uint64_t number =
        std::strtoull(tstrings::toUtf8(text.substr(0, digits)).c_str(), nullptr, 10);
    if (digits == text.size()) {
        return number;
    }
    const std::size_t unit =
        tstring(L"kmgt").find(static_cast<wchar_t>(std::towlower(text.back())));
    if (unit == tstring::npos) {
        return 0;
    }
    const unsigned shift = 10 * static_cast<unsigned>(unit + 1);
    return number > (largest >> shift) ? largest : number << shift;
}

// Options that make the runtime choose its base archive in a way that the launcher can't
// foresee: no archive with them.
const wchar_t* const unforeseeableOptions[] = {L"-XX:ObjectAlignmentInBytes",
                                               L"-XX:-UseCompressedClassPointers", L"-XX:Flags=",
                                               L"-XX:VMOptionsFile="};

// Options that may turn compressed oops off, for which the runtime takes its base archive
// made without them: an explicit switch, collectors without them, a large maximum or initial
// heap, or a heap sized after a share of the machine's memory.
bool mayLackCompressedOops(const tstring& option) {
    for (const wchar_t* prefix : {L"-Xmx", L"-Xms", L"-XX:MaxHeapSize=", L"-XX:InitialHeapSize="}) {
        if (tstrings::startsWith(option, prefix, tstrings::Exact)) {
            return sizeOption(option.substr(tstring(prefix).size())) > compressedOopsHeapLimit;
        }
    }
    for (const wchar_t* prefix : {L"-XX:-UseCompressedOops", L"-XX:+UseZGC", L"-XX:MaxRAM",
                                  L"-XX:MinRAMPercentage", L"-XX:InitialRAMPercentage"}) {
        if (tstrings::startsWith(option, prefix, tstrings::Exact)) {
            return true;
        }
    }
    return false;
}

// A new archive extends the runtime's base archive; when the runtime doesn't load it, writing
// the new one ends the process. Returns the base archives that the start may need (the one
// with compressed oops, the one without, or both when that depends on the machine), or raises
// when the options make that unforeseeable.
tstring_array neededBaseArchives(const tstring_array& options, const Setup& setup) {
    for (const wchar_t* prefix : unforeseeableOptions) {
        if (hasOptionStartingWith(options, prefix)) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"the option " << prefix << L" leaves the runtime's base archive unknown");
        }
    }
    const bool explicitlyOff =
        std::find(options.begin(), options.end(), L"-XX:-UseCompressedOops") != options.end();
    const bool mayBeOff = std::any_of(options.begin(), options.end(), mayLackCompressedOops);
    const tstring serverDir = FileUtils::parentPath(setup.jvmLibPath);
    tstring_array needed;
    if (!explicitlyOff) {
        needed.push_back(FileUtils::joinPath(serverDir, L"classes.jsa"));
    }
    if (mayBeOff) {
        needed.push_back(FileUtils::joinPath(serverDir, L"classes_nocoops.jsa"));
    }
    return needed;
}

// The archive's options first, then those that the configuration adds for the case.
Plan planWith(const tstring_array& options, const CfgFile& cfg, const SectionId& section,
              int version) {
    Plan result;
    // The runtime warns on the standard output of every class it can't archive and of an
    // archive it can't use: that is the application's output. Options of the configuration
    // come later and can still ask for such a log.
    result.options.push_back(L"-Xlog:cds*=off");
    if (version >= firstAotLogTagVersion) {
        result.options.push_back(L"-Xlog:aot*=off");
    }
    result.options.insert(result.options.end(), options.begin(), options.end());
    const tstring_array extra = javaOptionsOf(cfg, section);
    result.options.insert(result.options.end(), extra.begin(), extra.end());
    return result;
}

Plan usePlan(const CfgFile& cfg, const tstring_array& options, int version) {
    return planWith(options, cfg, SectionName::AppCDSJavaOptions, version);
}

Plan makePlan(const CfgFile& cfg, const tstring_array& options, int version,
              const tstring& written) {
    Plan result = planWith(options, cfg, SectionName::AppCDSGenerateCacheJavaOptions, version);
    result.written = written;
    return result;
}

// Whether this start may have its runtime write an archive; says why not. The mark goes down
// first: a runtime that ends the process can't make this key cost more than this one start,
// and of concurrent first starts only one writes.
bool mayMake(const tstring& dir, const tstring& stem) {
    const tstring mark = stem + L".tried";
    const std::uint64_t room = UserCache::freeBytes(dir);
    if (room < minFreeBytes) {
        LOG_TRACE(L"Class-data archive: none, only " << room << L" bytes free in " << dir);
        return false;
    }
    if (!UserCache::createNewFile(mark)) {
        LOG_TRACE(L"Class-data archive: none, another start made or makes it (" << mark << L")");
        return false;
    }
    return true;
}

// Where one key's files lie.
struct KeyFiles {
    tstring dir;
    tstring stem;
    tstring usable; // a published archive or cache; empty when none
    int version = 0;
    std::uint64_t processId = 0;

    tstring temporary(const wchar_t* suffix) const {
        return (tstrings::TextBuilder() << stem << L"." << processId << suffix).text();
    }
};

// On a runtime older than the AOT cache: an archive on top of the runtime's own, written by
// the runtime at the exit of a first start.
Plan dynamicArchivePlan(const CfgFile& cfg, const KeyFiles& files) {
    Plan result;
    if (!files.usable.empty()) {
        LOG_TRACE(L"Class-data archive: use " << files.usable);
        return usePlan(cfg, {L"-XX:SharedArchiveFile=" + files.usable}, files.version);
    }
    if (mayMake(files.dir, files.stem)) {
        // The runtime writes in place, so a start killed while it writes leaves a cut file:
        // it gets a name of this process, published only once the runtime has finished.
        const tstring temporary = files.temporary(L".tmp");
        // A runtime that can't create its archive fails the start: try first.
        UserCache::createEmptyFile(temporary);
        UserCache::removeFile(temporary);
        LOG_TRACE(L"Class-data archive: make " << temporary);
        result =
            makePlan(cfg, {L"-XX:ArchiveClassesAtExit=" + temporary}, files.version, temporary);
        result.publishStem = files.stem;
        result.publishSuffix = L".jsa";
    }
    return result;
}

// The background process: creates the cache from the recorded configuration, once per key.
Plan aotCreationPlan(const CfgFile& cfg, const KeyFiles& files) {
    const tstring configuration = files.stem + L".aotconf";
    if (!files.usable.empty() || !FileUtils::pathExists(configuration)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"no AOT configuration to create a cache from at " << configuration);
    }
    if (!UserCache::createNewFile(files.stem + L".creating")) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the AOT cache of " << configuration << L" is created or was tried already");
    }
    const tstring temporary = files.temporary(L".aottmp");
    LOG_TRACE(L"AOT cache: create " << temporary << L" from " << configuration);
    Plan result = makePlan(cfg,
                           {L"-XX:AOTMode=create", L"-XX:AOTConfiguration=" + configuration,
                            L"-XX:AOTCache=" + temporary},
                           files.version, temporary);
    result.publishStem = files.stem;
    result.publishSuffix = L".aot";
    result.creation = true;
    return result;
}

// On JDK 24 and later: a first start records the application's classes (costing about three
// times a plain start instead of five for recording and creating at once), a background
// process started at its exit creates the cache from the record, and starts from then on use
// the cache. No start waits for the creation.
Plan aotCachePlan(const CfgFile& cfg, const Setup& setup, const KeyFiles& files) {
    if (setup.aotCreation) {
        return aotCreationPlan(cfg, files);
    }
    if (!files.usable.empty()) {
        LOG_TRACE(L"AOT cache: use " << files.usable);
        return usePlan(cfg, {L"-XX:AOTCache=" + files.usable}, files.version);
    }
    const tstring configuration = files.stem + L".aotconf";
    if (FileUtils::pathExists(configuration)) {
        const tstring creating = files.stem + L".creating";
        if (FileUtils::pathExists(creating)) {
            LOG_TRACE(L"AOT cache: none, created in the background or failed (" << creating
                                                                                << L")");
        } else {
            // The recording start could not start the creation itself: this one does.
            UserCache::startInBackground(setup.launcherPath, aotCreationVar, aotCreationTimeLimit);
            LOG_TRACE(L"AOT cache: none, creating it in the background from " << configuration);
        }
        return Plan();
    }
    Plan result;
    if (mayMake(files.dir, files.stem)) {
        const tstring recording = files.temporary(L".conftmp");
        LOG_TRACE(L"AOT cache: record " << recording);
        // The runtime reports the recorded configuration on the standard output: that is the
        // application's, so the runtime's own messages go to the error stream.
        result = makePlan(cfg,
                          {L"-XX:+DisplayVMOutputToStderr", L"-XX:AOTMode=record",
                           L"-XX:AOTConfiguration=" + recording},
                          files.version, recording);
        result.configuration = configuration;
        result.launcherPath = setup.launcherPath;
    }
    return result;
}

Plan autoPlan(const CfgFile& cfg, const Setup& setup) {
    const std::string release = readRelease(setup.runtimeDir);
    const int version = javaFeatureVersion(release);
    if (version < firstDynamicArchiveVersion) {
        LOG_TRACE(L"Class-data archive: none, the runtime in "
                  << setup.runtimeDir << L" is not Java " << firstDynamicArchiveVersion
                  << L" or later");
        return Plan();
    }
    const tstring_array options = allJavaOptions(cfg, setup);
    if (managesSharingItself(options)) {
        LOG_TRACE(L"Class-data archive: none, the Java options manage class-data sharing");
        return Plan();
    }
    if (version < firstAotCacheVersion) {
        for (const tstring& base : neededBaseArchives(options, setup)) {
            if (!FileUtils::pathExists(base)) {
                LOG_TRACE(L"Class-data archive: none, the runtime has no " << base);
                return Plan();
            }
        }
    }
    const ArchiveKey key = archiveKey(cfg, setup, release);
    if (!key.classFolder.empty()) {
        LOG_TRACE(L"Class-data archive: none, the runtime can't archive the folder of classes "
                  << key.classFolder);
        return Plan();
    }

    KeyFiles files;
    files.dir = appCacheDir(setup);
    UserCache::makeDirectories(files.dir);
    files.stem = FileUtils::joinPath(files.dir, setup.appName + L"-" + key.hash);
    files.usable = tidyCacheDir(files.dir, setup, key.hash);
    files.version = version;
    files.processId = setup.processId;
    Plan result = version >= firstAotCacheVersion ? aotCachePlan(cfg, setup, files)
                                                  : dynamicArchivePlan(cfg, files);
    result.triedMark = files.stem + L".tried";
    return result;
}

Plan& keptPlan() {
    static Plan plan;
    return plan;
}

void finishKeptPlan() {
    finish(keptPlan());
}

} // namespace

const wchar_t* const aotCreationVar = L"VANTREL_AOT_CREATE";

std::string readRelease(const tstring& runtimeDir) {
    const UniqueFile file = openSharedForReading(FileUtils::joinPath(runtimeDir, L"release"));
    std::string text;
    char chunk[4096];
    // The file is small; a huge one is no runtime's.
    while (file && text.size() < (1u << 20)) {
        const std::size_t count = std::fread(chunk, 1, sizeof(chunk), file.get());
        text.append(chunk, count);
        if (count < sizeof(chunk)) {
            break;
        }
    }
    return text;
}

std::string releaseProperty(const std::string& releaseText, const std::string& name) {
    const std::string prefix = name + "=";
    size_t start = 0;
    while (start < releaseText.size()) {
        size_t end = releaseText.find('\n', start);
        end = end == std::string::npos ? releaseText.size() : end;
        if (releaseText.compare(start, prefix.size(), prefix) == 0) {
            std::string value =
                releaseText.substr(start + prefix.size(), end - start - prefix.size());
            value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
            value.erase(std::remove(value.begin(), value.end(), '\r'), value.end());
            return value;
        }
        start = end + 1;
    }
    return std::string();
}

int javaFeatureVersion(const std::string& releaseText) {
    std::string value = releaseProperty(releaseText, "JAVA_VERSION");
    // "1.8.0_292" is Java 8; from Java 9 on the feature version comes first.
    if (value.compare(0, 2, "1.") == 0) {
        value.erase(0, 2);
    }
    const size_t digits = value.find_first_not_of("0123456789");
    const std::string number = value.substr(0, digits);
    return number.empty() || number.size() > 4 ? 0 : std::atoi(number.c_str());
}

Plan plan(const CfgFile& cfg, const Setup& setup) {
    const CfgProperty* mode =
        findProperty(cfg.section(SectionName::Application), PropertyName::cds);
    if (!mode) {
        return Plan();
    }
    if (CfgFile::lastValue(*mode) != L"auto") {
        LOG_TRACE(L"Class-data archive: none, " << PropertyName::cds.name() << L"="
                                                << CfgFile::lastValue(*mode));
        return Plan();
    }
    try {
        return autoPlan(cfg, setup);
    } catch (const std::exception& error) {
        const auto* own = dynamic_cast<const VtErrorBase*>(&error);
        LOG_TRACE(L"Class-data archive: none, "
                  << tstrings::fromUtf8(own ? own->bareMessage() : error.what()));
        return Plan();
    }
}

void finish(const Plan& plan) {
    if (plan.written.empty()) {
        return;
    }
    UserCache::FileStamp stamp;
    if (!UserCache::stamp(plan.written, stamp) || stamp.size == 0) {
        // The mark stays: not again for this version of the application, as a runtime that
        // fails to write may fail the start as well.
        UserCache::removeFile(plan.written);
        return;
    }
    if (!plan.configuration.empty()) {
        if (!UserCache::replaceFile(plan.written, plan.configuration)) {
            UserCache::removeFile(plan.written);
            return;
        }
        try {
            UserCache::startInBackground(plan.launcherPath, aotCreationVar, aotCreationTimeLimit);
        } catch (const std::exception&) {
            // The next start tries again.
        }
    } else if (publish(plan.written, plan.publishStem, stamp.size, plan.publishSuffix).empty()) {
        UserCache::removeFile(plan.written);
        return;
    }
    UserCache::removeFile(plan.triedMark);
}

void keepForExit(const Plan& plan) {
    keptPlan() = plan;
}

void finishAtExit() {
    static bool registered = false;
    if (!registered && !keptPlan().written.empty()) {
        registered = std::atexit(finishKeptPlan) == 0;
    }
}

} // namespace CdsArchive
