#include "ArchiveKey.h"

#include <algorithm>
#include <set>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarManifest.h"
#include "UserCache.h"

namespace {

// Names the mechanism: archives of another one are never taken for this one's.
const wchar_t* const mechanism = L"static archive from a class list, 1";

const std::size_t keyDigits = 16;

// Bounds the jars whose manifests a start reads, whatever their "Class-Path" chains hold, and
// the files it stamps, whatever the folders hold.
const std::size_t maxManifests = 1000;
const std::size_t maxStamped = 20000;

const wchar_t* const bootClassPathOption = L"-Xbootclasspath/a:";

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
    // the runtime checks an archive against as well. A folder of classes there makes the
    // runtime refuse to make an archive: noted, the archive is left out.
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

// The boot class path's jars, which the runtime checks an archive against too.
tstring_array bootClassPaths(const tstring_array& options) {
    tstring_array paths;
    for (const tstring& option : options) {
        if (tstrings::startsWith(option, bootClassPathOption, tstrings::Exact)) {
            paths.push_back(option.substr(tstring(bootClassPathOption).size()));
        }
    }
    return paths;
}

} // namespace

ArchiveKey ArchiveKey::of(const CfgFile& cfg, const Sources& sources) {
    KeyText key;
    key.add(L"mechanism", mechanism)
        .add(L"release", tstrings::fromUtf8(sources.release))
        .addFile(L"jvm", sources.jvmLibPath)
        .addFile(L"launcher", sources.launcherPath)
        .addPathList(
            L"modulepath",
            propertyValues(cfg.section(SectionName::Application), PropertyName::modulepath),
            &KeyText::addModulePathEntry)
        .addPathList(L"classpath",
                     propertyValues(cfg.section(SectionName::Application), PropertyName::classpath),
                     &KeyText::addClassPathFile)
        .addPathList(L"bootclasspath", bootClassPaths(sources.options), &KeyText::addClassPathFile);
    for (const tstring& jar :
         propertyValues(cfg.section(SectionName::Application), PropertyName::mainjar)) {
        key.addClassPathFile(L"mainjar", jar);
    }
    key.addEach(L"mainmodule",
                propertyValues(cfg.section(SectionName::Application), PropertyName::mainmodule))
        .addEach(L"mainclass",
                 propertyValues(cfg.section(SectionName::Application), PropertyName::mainclass))
        .addEach(L"option", sources.options);
    return {key.hash(), key.classFolder};
}
