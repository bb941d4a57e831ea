#include "CdsArchive.h"

#include <algorithm>
#include <cstdlib>
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

// JDK 13 brought -XX:ArchiveClassesAtExit, JDK 19 -XX:+AutoCreateSharedArchive.
const int firstDynamicArchiveVersion = 13;
const int firstAutoCreateVersion = 19;

// A runtime that fails to write its archive ends the process with exit code 1, whatever the
// application returned: make none without ample room.
const std::uint64_t minFreeBytes = 256ull << 20;

// No runtime takes that long to write an archive: an older temporary file is left from a
// start that was killed while writing.
const std::int64_t abandonedAfterNs = 10ll * 60 * 1000000000;

const std::size_t keyDigits = 16;

// Bounds the jars whose manifests a start reads, whatever their "Class-Path" chains hold.
const std::size_t maxManifests = 1000;

// Options with which the configuration manages class-data sharing itself.
const wchar_t* const sharingOptions[] = {
    L"-Xshare:", L"-XX:SharedArchiveFile", L"-XX:ArchiveClassesAtExit",
    L"-XX:+AutoCreateSharedArchive", L"-XX:-AutoCreateSharedArchive"};

const CfgProperty* findProperty(const CfgSection& section, const PropertyId& id) {
    const auto entry = section.find(id);
    return entry == section.end() || entry->second.empty() ? nullptr : &*entry;
}

tstring_array valuesOf(const CfgFile& cfg, const SectionId& section, const PropertyId& id) {
    const CfgProperty* property = findProperty(cfg.section(section), id);
    return property ? property->second : tstring_array();
}

tstring_array javaOptionsOf(const CfgFile& cfg, const SectionId& section) {
    return valuesOf(cfg, section, PropertyName::javaOptions);
}

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
    // the runtime checks an archive against as well.
    KeyText& addClassPathFile(const wchar_t* label, const tstring& path) {
        if (!addStamped(label, path) || !manifestsRead.insert(path).second ||
            manifestsRead.size() > maxManifests) {
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

private:
    // A directory stands for the files in it, as a module path or a "dir/*" class path entry.
    // True for a file that is no directory.
    bool addStamped(const wchar_t* label, tstring path) {
        if (tstrings::endsWith(path, L"/*") || tstrings::endsWith(path, L"\\*")) {
            path.resize(path.size() - 2);
        }
        UserCache::FileStamp stamp;
        if (!UserCache::stamp(path, stamp)) {
            add(label, path + L" missing");
            return false;
        }
        add(label, (tstrings::TextBuilder() << path << L' ' << stamp.size << L' ' << stamp.modified)
                       .text());
        if (stamp.directory) {
            tstring_array names = UserCache::listDirectory(path);
            std::sort(names.begin(), names.end());
            for (const tstring& name : names) {
                addStamped(L" entry", FileUtils::joinPath(path, name));
            }
        }
        return !stamp.directory;
    }

    tstrings::TextBuilder text;
    std::set<tstring> manifestsRead;
};

tstring archiveKey(const CfgFile& cfg, const Setup& setup, const std::string& release) {
    const SectionId& app = SectionName::Application;
    KeyText key;
    key.add(L"release", tstrings::fromUtf8(release))
        .addFile(L"jvm", setup.jvmLibPath)
        .addFile(L"launcher", setup.launcherPath)
        .addPathList(L"modulepath", valuesOf(cfg, app, PropertyName::modulepath), &KeyText::addFile)
        .addPathList(L"classpath", valuesOf(cfg, app, PropertyName::classpath),
                     &KeyText::addClassPathFile);
    for (const tstring& jar : valuesOf(cfg, app, PropertyName::mainjar)) {
        key.addClassPathFile(L"mainjar", jar);
    }
    return key.addEach(L"mainmodule", valuesOf(cfg, app, PropertyName::mainmodule))
        .addEach(L"mainclass", valuesOf(cfg, app, PropertyName::mainclass))
        .addEach(L"option", javaOptionsOf(cfg, SectionName::JavaOptions))
        .addEach(L"use-option", javaOptionsOf(cfg, SectionName::AppCDSJavaOptions))
        .addEach(L"make-option", javaOptionsOf(cfg, SectionName::AppCDSGenerateCacheJavaOptions))
        .add(L"environment", setup.envOptions)
        .hash();
}

bool isDecimal(const tstring& text) {
    return !text.empty() && text.find_first_not_of(L"0123456789") == tstring::npos;
}

bool isKey(const tstring& text) {
    return text.size() == keyDigits && text.find_first_not_of(L"0123456789abcdef") == tstring::npos;
}

// The files of one application in its cache directory:
//   <app>-<key>.<size>.jsa   an archive published at the exit of the start that made it
//   <app>-<key>.<pid>.tmp    what the runtime of a start is writing, or was when killed
//   <app>-<key>.jsa          an archive that the runtime keeps up to date itself
//   <app>-<key>.failed       the runtime of a start ended without writing an archive
// Anything else in the directory is left alone.
struct CacheEntry {
    enum Kind { other, published, temporary, inPlace, failed };

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
        const tstring suffix = dot == tstring::npos ? tstring() : tail.substr(dot);
        if (tail == L".jsa") {
            kind = inPlace;
        } else if (tail == L".failed") {
            kind = failed;
        } else if (isDecimal(middle) && (suffix == L".jsa" || suffix == L".tmp")) {
            kind = suffix == L".jsa" ? published : temporary;
            number = std::strtoull(tstrings::toUtf8(middle).c_str(), nullptr, 10);
        }
    }

    tstring key;
    Kind kind = other;
    std::uint64_t number = 0; // the size of a published archive, the pid of a temporary one
};

// The runtime writes its archive's header last, beginning with this magic number: a file
// that begins with it is complete even when the start that made it could not publish it.
bool isCompleteArchive(const tstring& path) {
    const unsigned char magic[] = {0xa8, 0xab, 0x0b, 0xf0};
    unsigned char head[sizeof(magic)] = {};
    const UniqueFile file = openSharedForReading(path);
    return file && std::fread(head, 1, sizeof(head), file.get()) == sizeof(head) &&
           std::equal(head, head + sizeof(head), magic);
}

tstring publish(const tstring& written, const tstring& stem, std::uint64_t size) {
    const tstring archive = (tstrings::TextBuilder() << stem << L"." << size << L".jsa").text();
    return UserCache::replaceFile(written, archive) ? archive : tstring();
}

void removeStale(const tstring& path) {
    const bool removed = UserCache::removeFile(path);
    LOG_TRACE((removed ? L"Removed stale class-data file " : L"Can't remove stale class-data file ")
              << path);
}

// Removes what no start of this version of the application can use, and returns the path of
// the published archive that it can use, if any.
tstring tidyCacheDir(const tstring& dir, const Setup& setup, const tstring& key) {
    tstring_array names = UserCache::listDirectory(dir);
    std::sort(names.begin(), names.end());
    tstring usable;
    for (const tstring& name : names) {
        const CacheEntry entry(setup.appName, name);
        if (entry.kind == CacheEntry::other) {
            continue;
        }
        const tstring path = FileUtils::joinPath(dir, name);
        UserCache::FileStamp stamp;
        const bool exists = UserCache::stamp(path, stamp);
        if (entry.key != key) {
            removeStale(path);
        } else if (entry.kind == CacheEntry::published) {
            // A cut archive can crash the runtime: the size must be the one it was published
            // with. Concurrent first starts may have published one each: keep one.
            if (usable.empty() && exists && stamp.size == entry.number) {
                usable = path;
            } else {
                removeStale(path);
            }
        } else if (entry.kind == CacheEntry::temporary && exists && isCompleteArchive(path)) {
            // Left by a start that the runtime ended in a way this launcher could not see.
            const tstring adopted =
                publish(path, FileUtils::joinPath(dir, setup.appName + L"-" + key), stamp.size);
            if (!adopted.empty()) {
                LOG_TRACE(L"Adopted class-data archive " << path);
                usable = usable.empty() ? adopted : usable;
            }
        } else if (entry.kind == CacheEntry::temporary && exists &&
                   setup.now - stamp.modified > abandonedAfterNs) {
            removeStale(path);
        }
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

bool managesSharingItself(const CfgFile& cfg, const Setup& setup) {
    for (const wchar_t* option : sharingOptions) {
        if (setup.envOptions.find(option) != tstring::npos) {
            return true;
        }
    }
    tstring_array options = javaOptionsOf(cfg, SectionName::JavaOptions);
    for (const SectionId* section :
         {&SectionName::AppCDSJavaOptions, &SectionName::AppCDSGenerateCacheJavaOptions}) {
        const tstring_array more = javaOptionsOf(cfg, *section);
        options.insert(options.end(), more.begin(), more.end());
    }
    for (const tstring& option : options) {
        for (const wchar_t* prefix : sharingOptions) {
            if (tstrings::startsWith(option, prefix, tstrings::Exact)) {
                return true;
            }
        }
    }
    return false;
}

// A new archive extends the runtime's own; without that one the runtime refuses to start.
tstring baseArchivePath(const CfgFile& cfg, const Setup& setup) {
    const tstring_array options = javaOptionsOf(cfg, SectionName::JavaOptions);
    const bool noCompressedOops =
        std::find(options.begin(), options.end(), L"-XX:-UseCompressedOops") != options.end();
    return FileUtils::joinPath(FileUtils::parentPath(setup.jvmLibPath),
                               noCompressedOops ? L"classes_nocoops.jsa" : L"classes.jsa");
}

// The archive's options first, then those that the configuration adds for the case.
Plan planWith(const tstring_array& options, const CfgFile& cfg, const SectionId& section) {
    Plan result;
    // The runtime warns on the standard output of every class it can't archive and of an
    // archive it can't use: that is the application's output. Options of the configuration
    // come later and can still ask for such a log.
    result.options.push_back(L"-Xlog:cds*=off");
    result.options.insert(result.options.end(), options.begin(), options.end());
    const tstring_array extra = javaOptionsOf(cfg, section);
    result.options.insert(result.options.end(), extra.begin(), extra.end());
    return result;
}

Plan usePlan(const CfgFile& cfg, const tstring_array& options) {
    return planWith(options, cfg, SectionName::AppCDSJavaOptions);
}

Plan makePlan(const CfgFile& cfg, const tstring_array& options, const tstring& written,
              const tstring& stem) {
    Plan result = planWith(options, cfg, SectionName::AppCDSGenerateCacheJavaOptions);
    result.written = written;
    result.publishStem = stem;
    return result;
}

// Whether this start may have its runtime write an archive; says why not.
bool mayMake(const tstring& dir, const tstring& stem) {
    if (FileUtils::pathExists(stem + L".failed")) {
        LOG_TRACE(L"Class-data archive: none, an earlier start could not make it (" << stem
                                                                                    << L".failed)");
        return false;
    }
    const std::uint64_t room = UserCache::freeBytes(dir);
    if (room < minFreeBytes) {
        LOG_TRACE(L"Class-data archive: none, only " << room << L" bytes free in " << dir);
        return false;
    }
    return true;
}

// The feature version from the text of a runtime's "release" file ("1.8.0" is 8); 0 when
// unknown.
int javaFeatureVersion(const std::string& releaseText) {
    const std::string name = "JAVA_VERSION=";
    size_t start = 0;
    while (start < releaseText.size()) {
        size_t end = releaseText.find('\n', start);
        end = end == std::string::npos ? releaseText.size() : end;
        if (releaseText.compare(start, name.size(), name) == 0) {
            std::string value = releaseText.substr(start + name.size(), end - start - name.size());
            value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
            // "1.8.0_292" is Java 8; from Java 9 on the feature version comes first.
            if (value.compare(0, 2, "1.") == 0) {
                value.erase(0, 2);
            }
            const size_t digits = value.find_first_not_of("0123456789");
            const std::string number = value.substr(0, digits);
            return number.empty() || number.size() > 4 ? 0 : std::atoi(number.c_str());
        }
        start = end + 1;
    }
    return 0;
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
    if (managesSharingItself(cfg, setup)) {
        LOG_TRACE(L"Class-data archive: none, the Java options manage class-data sharing");
        return Plan();
    }
    const tstring base = baseArchivePath(cfg, setup);
    if (!FileUtils::pathExists(base)) {
        LOG_TRACE(L"Class-data archive: none, the runtime has no " << base);
        return Plan();
    }

    const tstring dir = appCacheDir(setup);
    UserCache::makeDirectories(dir);
    const tstring key = archiveKey(cfg, setup, release);
    const tstring usable = tidyCacheDir(dir, setup, key);
    const tstring stem = FileUtils::joinPath(dir, setup.appName + L"-" + key);

    Plan result;
    if (version >= firstAutoCreateVersion) {
        // The runtime checks the archive, makes it when missing or stale and writes it itself.
        const tstring archive = stem + L".jsa";
        const tstring_array options{L"-XX:+AutoCreateSharedArchive",
                                    L"-XX:SharedArchiveFile=" + archive};
        if (FileUtils::pathExists(archive)) {
            LOG_TRACE(L"Class-data archive: use " << archive);
            result = usePlan(cfg, options);
        } else if (mayMake(dir, stem)) {
            LOG_TRACE(L"Class-data archive: make " << archive);
            result = makePlan(cfg, options, archive, tstring());
        }
    } else if (!usable.empty()) {
        LOG_TRACE(L"Class-data archive: use " << usable);
        result = usePlan(cfg, {L"-XX:SharedArchiveFile=" + usable});
    } else if (mayMake(dir, stem)) {
        // The runtime writes in place, so a start killed while it writes leaves a cut file:
        // it gets a name of this process, published only once the runtime has finished.
        const tstring temporary =
            (tstrings::TextBuilder() << stem << L"." << setup.processId << L".tmp").text();
        // A runtime that can't create its archive fails the start: try first.
        UserCache::createEmptyFile(temporary);
        UserCache::removeFile(temporary);
        LOG_TRACE(L"Class-data archive: make " << temporary);
        result = makePlan(cfg, {L"-XX:ArchiveClassesAtExit=" + temporary}, temporary, stem);
    }
    result.failedMarker = stem + L".failed";
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
        // Not again for this version of the application: a runtime that fails to write its
        // archive may fail the start as well.
        UserCache::removeFile(plan.written);
        try {
            UserCache::createEmptyFile(plan.failedMarker);
        } catch (const std::exception&) {
        }
        return;
    }
    if (!plan.publishStem.empty() && publish(plan.written, plan.publishStem, stamp.size).empty()) {
        UserCache::removeFile(plan.written);
    }
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
