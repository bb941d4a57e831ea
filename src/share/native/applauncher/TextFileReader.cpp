#include "TextFileReader.h"

#include <cerrno>
#include <cstring>

// ---- Platform part: opening the file ---------------------------------------------------------
#ifdef _WIN32

#include <share.h>

UniqueFile openSharedForReading(const tstring& path) {
    return UniqueFile(_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
}

#else

#include <sys/stat.h>

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

#endif
// ---- End of the platform part ----------------------------------------------------------------

namespace {

const std::size_t chunkSize = 64 * 1024;
const char ctrlZ = 0x1A;

} // namespace

TextLineReader::TextLineReader(std::FILE* stream) : stream(stream), buffer(chunkSize) {}

// Reads the next chunk; false when there is nothing more to read.
bool TextLineReader::fill() {
    pos = end = 0;
    if (inputEnded) {
        return false;
    }
    errno = 0;
    const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), stream);
    if (count < buffer.size()) {
        inputEnded = true;
        if (std::ferror(stream)) {
            readError = errno != 0 ? errno : EIO;
        }
    }
    const void* stop = std::memchr(buffer.data(), ctrlZ, count);
    if (stop != nullptr) {
        inputEnded = true;
        end = static_cast<const char*>(stop) - buffer.data();
    } else {
        end = count;
    }
    return end > 0;
}

bool TextLineReader::next(std::string& line) {
    line.clear();
    bool gotText = false;
    while (pos < end || fill()) {
        const char* begin = buffer.data() + pos;
        const std::size_t available = end - pos;
        const void* lf = std::memchr(begin, '\n', available);
        if (lf != nullptr) {
            const std::size_t length = static_cast<const char*>(lf) - begin;
            line.append(begin, length);
            pos += length + 1;
            // A CR stays unless an LF follows it, as in text mode.
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        line.append(begin, available);
        pos = end;
        gotText = true;
    }
    return gotText && !failed();
}
