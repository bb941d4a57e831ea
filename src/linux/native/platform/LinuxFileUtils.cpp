#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "RuntimeLibraries.h"

namespace JavaRuntime {

const Layout& nativeLayout = linuxLayout;

} // namespace JavaRuntime

namespace FileUtils {

const wchar_t pathSeparator = L'/';
const wchar_t pathListSeparator = L':';
const wchar_t* const executableSuffix = L"";

namespace {

struct CrtFree {
    void operator()(char* buffer) const { std::free(buffer); }
};
typedef std::unique_ptr<char, CrtFree> CrtText;

// The kernel knows only '/' as separator; a '\' here is part of a file name, so the absolute
// path splits at '/' alone and keeps every other character as it is.
tstring removeDotComponents(const tstring& absolutePath) {
    tstring_array kept;
    size_t start = 0;
    while (start <= absolutePath.size()) {
        size_t end = absolutePath.find(L'/', start);
        if (end == tstring::npos) {
            end = absolutePath.size();
        }
        const tstring component = absolutePath.substr(start, end - start);
        if (component == L"..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else if (!component.empty() && component != L".") {
            kept.push_back(component);
        }
        start = end + 1;
    }

    tstring result;
    for (const tstring& component : kept) {
        result += L'/';
        result += component;
    }
    return result.empty() ? tstring(L"/") : result;
}

} // namespace

bool pathExists(const tstring& path) {
    if (hasEmbeddedNul(path)) {
        return false;
    }
    struct stat info;
    return stat(tstrings::toUtf8(path).c_str(), &info) == 0;
}

tstring toAbsolutePath(const tstring& path) {
    if (path.empty()) {
        const CrtText cwd(getcwd(nullptr, 0));
        if (!cwd) {
            VT_RAISE("_tgetcwd() failed");
        }
        if (*cwd == '\0') {
            VT_RAISE("_tgetcwd() returned empty string");
        }
        const tstring dir = tstrings::fromUtf8(cwd.get());
        if (dir.empty()) {
            VT_RAISE("_tgetcwd() failed");
        }
        return dir;
    }

    if (hasEmbeddedNul(path)) {
        VT_RAISE(tstrings::TextBuilder() << "_tfullpath(" << path << ") failed");
    }
    if (path[0] == L'/') {
        return removeDotComponents(path);
    }
    const CrtText cwd(getcwd(nullptr, 0));
    const tstring dir = cwd ? tstrings::fromUtf8(cwd.get()) : tstring();
    if (dir.empty()) {
        VT_RAISE(tstrings::TextBuilder() << "_tfullpath(" << path << ") failed");
    }
    return removeDotComponents(dir + L'/' + path);
}

// An empty entry of LD_LIBRARY_PATH stands for the current directory: never make one.
tstring extendedPathList(const tstring& list, const tstring& dir) {
    return list.empty() ? dir : list + pathListSeparator + dir;
}

} // namespace FileUtils
