#include "FileUtils.h"

namespace FileUtils {

namespace {

// Position of the last separator before end, or npos.
size_t lastSeparatorBefore(const tstring& path, size_t end) {
    for (size_t i = end; i > 0; --i) {
        if (isPathSeparator(path[i - 1])) {
            return i - 1;
        }
    }
    return tstring::npos;
}

} // namespace

tstring parentPath(const tstring& path) {
    size_t searchEnd = path.size();
    // "dir\." names dir itself, so its parent is the parent of dir.
    if (tstrings::endsWith(path, L"/.") || tstrings::endsWith(path, L"\\.")) {
        searchEnd -= 2;
    }
    size_t pos = lastSeparatorBefore(path, searchEnd);
    if (pos == tstring::npos) {
        return tstring();
    }
    // A run of separators counts as one.
    while (isPathSeparator(path[pos])) {
        if (pos == 0) {
            return tstring();
        }
        --pos;
    }
    return path.substr(0, pos + 1);
}

tstring lastComponent(const tstring& path) {
    const size_t pos = lastSeparatorBefore(path, path.size());
    if (pos == tstring::npos) {
        return path;
    }
    return path.substr(pos + 1);
}

tstring joinPath(const tstring& a, const tstring& b) {
    if (a.empty()) {
        return b;
    }
    if (b.empty()) {
        return a;
    }
    const size_t skip = isPathSeparator(b[0]) ? 1 : 0;
    return trimTrailingSeparators(a) + pathSeparator + b.substr(skip);
}

tstring trimTrailingSeparators(const tstring& path) {
    size_t end = path.size();
    while (end > 0 && isPathSeparator(path[end - 1])) {
        --end;
    }
    return path.substr(0, end);
}

tstring appNameOfLauncher(const tstring& launcherPath) {
    const tstring name = lastComponent(launcherPath);
    const tstring suffix = executableSuffix;
    if (!suffix.empty() && name.size() > suffix.size() &&
        tstrings::toLower(name.substr(name.size() - suffix.size())) == suffix) {
        return name.substr(0, name.size() - suffix.size());
    }
    return name;
}

} // namespace FileUtils
