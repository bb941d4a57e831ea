#include "WinApi.h"

#include <cstdlib>
#include <memory>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "RuntimeLibraries.h"

namespace JavaRuntime {

const Layout& nativeLayout = windowsLayout;

} // namespace JavaRuntime

namespace FileUtils {

const wchar_t pathSeparator = L'\\';
const wchar_t pathListSeparator = L';';
const wchar_t* const executableSuffix = L".exe";

namespace {

struct CrtFree {
    void operator()(wchar_t* buffer) const { std::free(buffer); }
};
typedef std::unique_ptr<wchar_t, CrtFree> CrtText;

} // namespace

bool pathExists(const tstring& path) {
    if (hasEmbeddedNul(path)) {
        return false;
    }
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

tstring toAbsolutePath(const tstring& path) {
    if (path.empty()) {
        const CrtText cwd(_wgetcwd(nullptr, 0));
        if (!cwd) {
            VT_RAISE("_tgetcwd() failed");
        }
        if (*cwd == L'\0') {
            VT_RAISE("_tgetcwd() returned empty string");
        }
        return tstring(cwd.get());
    }

    const CrtText fullPath(hasEmbeddedNul(path) ? nullptr : _wfullpath(nullptr, path.c_str(), 0));
    if (!fullPath) {
        VT_RAISE(tstrings::TextBuilder() << "_tfullpath(" << path << ") failed");
    }
    return tstring(fullPath.get());
}

tstring extendedPathList(const tstring& list, const tstring& dir) {
    return list + pathListSeparator + dir;
}

} // namespace FileUtils
