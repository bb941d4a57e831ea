#include "TextFileReader.h"

#include <cerrno>
#include <cstring>

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
