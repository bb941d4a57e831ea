#ifndef VANTREL_FILEUTILS_H
#define VANTREL_FILEUTILS_H

#include <cstdio>
#include <memory>

#include "tstrings.h"

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
typedef std::unique_ptr<std::FILE, FileCloser> UniqueFile;

// Opens a file for reading as bytes without denying any access to other readers and writers
// (an installer or an editor may hold it). Null, with errno telling why, when it can't be
// opened; a directory can't.
UniqueFile openSharedForReading(const tstring& path);

// Paths as plain text: '\' and '/' both separate components; joining inserts the platform's
// separator. Only pathExists and toAbsolutePath touch the file system.
namespace FileUtils {

// The platform's: '\\' and ';' on Windows, '/' and ':' on Linux.
extern const wchar_t pathSeparator;
extern const wchar_t pathListSeparator;
// Of executables: ".exe" on Windows, none on Linux.
extern const wchar_t* const executableSuffix;

// A list of paths (as a library search variable holds) with dir added at its end.
tstring extendedPathList(const tstring& list, const tstring& dir);

// The system would read such a path only up to the NUL and so name another file.
inline bool hasEmbeddedNul(const tstring& path) {
    return path.find(L'\0') != tstring::npos;
}

inline bool isPathSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

tstring parentPath(const tstring& path);
tstring lastComponent(const tstring& path);
tstring joinPath(const tstring& a, const tstring& b);
tstring trimTrailingSeparators(const tstring& path);
// The application's name from its launcher's file name: on Windows without a final ".exe" (any
// case), elsewhere the whole name, since a Linux executable has no extension ("hello-1.0").
tstring appNameOfLauncher(const tstring& launcherPath);
bool pathExists(const tstring& path);
tstring toAbsolutePath(const tstring& path);

// Accumulates a path component by component: FileUtils::PathBuilder() << root << L"app".
class PathBuilder {
public:
    PathBuilder& operator<<(const tstring& component) {
        text = joinPath(text, component);
        return *this;
    }
    const tstring& path() const { return text; }
    operator const tstring&() const { return text; }

private:
    tstring text;
};

} // namespace FileUtils

#endif
