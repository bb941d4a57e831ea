#include "ClassPathFiles.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarManifest.h"
#include "PackFiles.h"

namespace fs = std::filesystem;

namespace {

// The runtime's own rule: exactly these two spellings.
bool isJarName(const tstring& name) {
    return name.size() > 4 &&
           (tstrings::endsWith(name, L".jar") || tstrings::endsWith(name, L".JAR"));
}

tstring wildcardFolder(const tstring& entry) {
    return entry.substr(0, entry.size() - 1);
}

// The names of the jar files directly in dir, sorted.
tstring_array jarsIn(const tstring& dir) {
    tstring_array names;
    std::error_code error;
    for (fs::directory_iterator it(PackFiles::fsPath(dir), error), end; !error && it != end;
         it.increment(error)) {
        const tstring name = PackFiles::fromFsPath(it->path().filename());
        std::error_code ignored;
        if (isJarName(name) && it->is_regular_file(ignored)) {
            names.push_back(name);
        }
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot read " << dir << L": " << error.message());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One spelling of a relative path, to compare entries.
tstring slashed(const tstring& path) {
    return tstrings::replace(path, L"\\", L"/");
}

// Absolute and without "." or "..", links kept: a link in the input is copied as a file, so
// where it points does not matter.
tstring lexicalPath(const tstring& path) {
    std::error_code ignored;
    return FileUtils::trimTrailingSeparators(
        PackFiles::fromFsPath(fs::absolute(PackFiles::fsPath(path), ignored).lexically_normal()));
}

void addWithManifest(const tstring& input, const tstring& file, std::set<tstring>& seen,
                     tstring_array& result) {
    if (!seen.insert(file).second) {
        return;
    }
    result.push_back(file);
    if (!PackFiles::isFile(file)) {
        return; // a folder of classes has no manifest
    }
    std::string manifest;
    try {
        manifest = JarManifest::read(file);
    } catch (const std::exception&) {
        return; // no jar: the runtime reads no "Class-Path" from it either
    }
    for (const tstring& entry : JarManifest::classPathOf(FileUtils::parentPath(file), manifest)) {
        const tstring path = lexicalPath(entry);
        if (PackFiles::isWithin(path, input) && PackFiles::exists(path)) {
            addWithManifest(input, path, seen, result);
        }
    }
}

} // namespace

namespace ClassPathFiles {

bool isWildcard(const tstring& entry) {
    return entry == L"*" || tstrings::endsWith(entry, L"/*") || tstrings::endsWith(entry, L"\\*");
}

tstring_array expand(const tstring& input, const tstring_array& entries, const tstring& mainJar,
                     tstring_array& emptyWildcards) {
    tstring_array result;
    for (const tstring& entry : entries) {
        if (!isWildcard(entry)) {
            result.push_back(entry);
            continue;
        }
        const tstring folder = wildcardFolder(entry);
        if (!PackFiles::isDirectory(FileUtils::joinPath(input, folder))) {
            VT_RAISE(tstrings::TextBuilder() << L"the class path entry " << entry
                                             << L" names no folder of the input " << input);
        }
        const tstring_array jars = jarsIn(FileUtils::joinPath(input, folder));
        for (const tstring& jar : jars) {
            result.push_back(folder + jar);
        }
        if (jars.empty()) {
            emptyWildcards.push_back(entry);
        }
    }
    // The main jar leads the class path already.
    result.erase(std::remove_if(result.begin(), result.end(),
                                [&](const tstring& entry) {
                                    return !mainJar.empty() && slashed(entry) == slashed(mainJar);
                                }),
                 result.end());
    return result;
}

tstring_array withManifestClassPaths(const tstring& input, const tstring_array& files) {
    std::set<tstring> seen;
    tstring_array result;
    for (const tstring& file : files) {
        addWithManifest(input, lexicalPath(file), seen, result);
    }
    return result;
}

} // namespace ClassPathFiles
