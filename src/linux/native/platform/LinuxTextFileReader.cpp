// Opening a text file on Linux, closed on exec.
#include <sys/stat.h>

#include <cerrno>

#include "FileUtils.h"

UniqueFile openSharedForReading(const tstring& path) {
    UniqueFile file(std::fopen(tstrings::toUtf8(path).c_str(), "rbe"));
    struct stat status;
    // Here a directory opens and fails only when read; on Windows it fails to open.
    if (file && fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode)) {
        file.reset();
        errno = EISDIR;
    }
    return file;
}
