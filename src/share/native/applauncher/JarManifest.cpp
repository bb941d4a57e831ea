#include "JarManifest.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "TextFileReader.h"

namespace {

const char* const manifestName = "META-INF/MANIFEST.MF";
const std::uint32_t endOfDirectorySignature = 0x06054b50;
const std::uint32_t directoryEntrySignature = 0x02014b50;
const std::uint32_t localHeaderSignature = 0x04034b50;
const std::size_t endOfDirectorySize = 22;
const std::size_t directoryEntrySize = 46;
const std::size_t localHeaderSize = 30;
// Bigger manifests are no manifests a launcher should trust.
const std::uint32_t maxEntrySize = 16 << 20;

typedef std::vector<unsigned char> Bytes;

std::uint32_t readLe(const Bytes& bytes, std::size_t pos, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | bytes.at(pos + i);
    }
    return value;
}

class ZipReader {
public:
    explicit ZipReader(const tstring& path) : path(path), file(openSharedForReading(path)) {
        // A long offset: bigger files are no jars this reader needs to open.
        const long end =
            file && std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
        if (end < 0) {
            VT_RAISE(tstrings::TextBuilder() << L"cannot read " << path);
        }
        size = static_cast<std::uint64_t>(end);
    }

    // The entry's bytes, uncompressed; empty when the archive has no such entry.
    std::string entry(const std::string& name) {
        std::uint64_t endOffset = 0;
        const Bytes end = endOfDirectory(endOffset);
        const std::uint32_t count = readLe(end, 10, 2);
        const std::uint32_t directorySize = readLe(end, 12, 4);
        // Data in front of the archive (a start script, a jmod's header) moves every offset by
        // its size: the directory ends where the end record begins, as the runtime reads it.
        if (directorySize > endOffset || readLe(end, 16, 4) > endOffset - directorySize) {
            fail();
        }
        prefixSize = endOffset - directorySize - readLe(end, 16, 4);
        const Bytes directory = read(endOffset - directorySize, directorySize);
        std::size_t pos = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (pos + directoryEntrySize > directory.size() ||
                readLe(directory, pos, 4) != directoryEntrySignature) {
                fail();
            }
            const std::uint32_t nameLength = readLe(directory, pos + 28, 2);
            const std::size_t next = pos + directoryEntrySize + nameLength +
                                     readLe(directory, pos + 30, 2) +
                                     readLe(directory, pos + 32, 2);
            if (pos + directoryEntrySize + nameLength > directory.size()) {
                fail();
            }
            const std::string entryName(directory.begin() + pos + directoryEntrySize,
                                        directory.begin() + pos + directoryEntrySize + nameLength);
            if (entryName == name) {
                return contents(directory, pos);
            }
            pos = next;
        }
        return std::string();
    }

private:
    [[noreturn]] void fail() const {
        VT_RAISE(tstrings::TextBuilder() << L"not a jar file: " << path);
    }

    Bytes read(std::uint64_t offset, std::uint64_t length) {
        if (offset > size || length > size - offset) {
            fail();
        }
        Bytes bytes(static_cast<std::size_t>(length));
        if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
            fail();
        }
        return bytes;
    }

    // The record ends the file, followed only by a comment of up to 64 KiB.
    Bytes endOfDirectory(std::uint64_t& offset) {
        const std::uint64_t tail = std::min<std::uint64_t>(size, endOfDirectorySize + 0xffff);
        const Bytes bytes = read(size - tail, tail);
        for (std::size_t pos = bytes.size(); pos >= endOfDirectorySize; --pos) {
            const std::size_t start = pos - endOfDirectorySize;
            if (readLe(bytes, start, 4) == endOfDirectorySignature) {
                offset = size - tail + start;
                return Bytes(bytes.begin() + start, bytes.end());
            }
        }
        fail();
    }

    std::string contents(const Bytes& directory, std::size_t entry) {
        const std::uint32_t method = readLe(directory, entry + 10, 2);
        const std::uint32_t packedSize = readLe(directory, entry + 20, 4);
        const std::uint32_t unpackedSize = readLe(directory, entry + 24, 4);
        const std::uint64_t headerOffset = prefixSize + readLe(directory, entry + 42, 4);
        if (unpackedSize > maxEntrySize || (method != 0 && method != 8)) {
            fail();
        }
        const Bytes header = read(headerOffset, localHeaderSize);
        if (readLe(header, 0, 4) != localHeaderSignature) {
            fail();
        }
        const Bytes packed =
            read(headerOffset + localHeaderSize + readLe(header, 26, 2) + readLe(header, 28, 2),
                 packedSize);
        if (method == 0) {
            return std::string(packed.begin(), packed.end());
        }
        return inflate(packed, unpackedSize);
    }

    std::string inflate(const Bytes& packed, std::uint32_t unpackedSize) const {
        std::string result(unpackedSize, '\0');
        z_stream zs = {};
        // Raw deflate data: no zlib header in a zip entry.
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
            fail();
        }
        zs.next_in = const_cast<Bytef*>(packed.data());
        zs.avail_in = static_cast<uInt>(packed.size());
        zs.next_out = reinterpret_cast<Bytef*>(&result[0]);
        zs.avail_out = static_cast<uInt>(result.size());
        const int status = ::inflate(&zs, Z_FINISH);
        const bool complete = status == Z_STREAM_END && zs.total_out == unpackedSize;
        inflateEnd(&zs);
        if (!complete) {
            fail();
        }
        return result;
    }

    tstring path;
    UniqueFile file;
    std::uint64_t size = 0;
    std::uint64_t prefixSize = 0;
};

std::string trimLineEnd(const std::string& line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// Attribute names ignore case.
bool isAttribute(const std::string& line, const char* lowerCaseName) {
    const std::size_t length = std::strlen(lowerCaseName);
    if (line.size() < length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != lowerCaseName[i]) {
            return false;
        }
    }
    return true;
}

// The value of a main attribute of a manifest's text, its name given in lower case without the
// colon; empty text when there is none.
std::string mainAttribute(const std::string& manifest, const char* lowerCaseName) {
    const std::string prefix = std::string(lowerCaseName) + ":";
    // Lines wrap at 72 bytes; a line that starts with a space continues the one before. The
    // main attributes end at the first empty line.
    std::string attribute;
    std::string value;
    const auto takeAttribute = [&] {
        if (isAttribute(attribute, prefix.c_str())) {
            value = attribute.substr(prefix.size());
        }
        attribute.clear();
    };
    for (std::size_t start = 0; start < manifest.size();) {
        std::size_t end = manifest.find('\n', start);
        end = end == std::string::npos ? manifest.size() : end;
        const std::string line = trimLineEnd(manifest.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == ' ') {
            attribute += line.substr(1);
            continue;
        }
        takeAttribute();
        if (line.empty()) {
            break;
        }
        attribute = line;
    }
    takeAttribute();
    const std::size_t first = value.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : value.substr(first);
}

} // namespace

namespace JarManifest {

tstring mainClassOf(const std::string& manifest) {
    return tstrings::fromUtf8(mainAttribute(manifest, "main-class"));
}

std::string read(const tstring& jarPath) {
    return readEntry(jarPath, manifestName);
}

std::string readEntry(const tstring& jarPath, const std::string& name) {
    return ZipReader(jarPath).entry(name);
}

tstring readMainClass(const tstring& jarPath) {
    return mainClassOf(read(jarPath));
}

tstring_array classPathOf(const tstring& jarDir, const std::string& manifest) {
    tstring_array paths;
    const std::string entries = mainAttribute(manifest, "class-path");
    for (std::size_t start = entries.find_first_not_of(' '); start != std::string::npos;
         start = entries.find_first_not_of(' ', start)) {
        const std::size_t end = std::min(entries.find(' ', start), entries.size());
        const std::string url = entries.substr(start, end - start);
        start = end;
        // Only relative file URLs: what else a manifest may name is not the application's.
        if (url[0] == '/' || url.find(':') != std::string::npos) {
            continue;
        }
        std::string path;
        for (std::size_t i = 0; i < url.size(); ++i) {
            if (url[i] == '%' && i + 2 < url.size() &&
                std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(url[i + 2]))) {
                path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                path += url[i] == '/' ? static_cast<char>(FileUtils::pathSeparator) : url[i];
            }
        }
        try {
            paths.push_back(FileUtils::joinPath(jarDir, tstrings::fromUtf8(path)));
        } catch (const std::exception&) {
            // Not UTF-8: no file the runtime could open either.
        }
    }
    return paths;
}

} // namespace JarManifest
