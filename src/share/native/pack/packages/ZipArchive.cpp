#include "ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ErrorHandling.h"
#include "PackFiles.h"
#include "PackHost.h"

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name; // UTF-8, '/'-separated, folders end with '/'
    fs::path source;
    bool executable;
};

// The central directory remembers where each entry went and what it was.
struct WrittenEntry {
    std::string name;
    std::uint32_t crc;
    std::uint32_t compressedSize;
    std::uint32_t size;
    std::uint16_t method;
    std::uint32_t offset;
    std::uint32_t externalAttributes;
};

class ByteWriter {
public:
    void u16(std::uint32_t value) {
        bytes.push_back(static_cast<char>(value & 0xff));
        bytes.push_back(static_cast<char>((value >> 8) & 0xff));
    }
    void u32(std::uint32_t value) {
        u16(value & 0xffff);
        u16(value >> 16);
    }
    void text(const std::string& value) { bytes += value; }
    std::string bytes;
};

// The path's own components joined with '/': a backslash inside a Linux name is no separator
// (the input's names were checked to hold none).
std::string entryName(const fs::path& relative) {
    std::string name;
    for (const fs::path& part : relative) {
        const tstring text = PackFiles::fromFsPath(part);
        if (text.empty()) {
            // Never dropped: the input was checked, a given runtime was not.
            VT_RAISE(tstrings::TextBuilder() << L"cannot put a name that isn't UTF-8 into the "
                                                L"zip, below "
                                             << tstrings::fromUtf8(name));
        }
        name += (name.empty() ? "" : "/") + tstrings::toUtf8(text);
    }
    return name;
}

std::vector<Entry> collectEntries(const tstring& dir, const tstring& topName) {
    std::vector<Entry> entries;
    const std::string top = tstrings::toUtf8(topName) + "/";
    entries.push_back(Entry{top, fs::path(), false});
    std::error_code error;
    const fs::path root = PackFiles::fsPath(dir);
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        const bool folder = it->is_directory(error);
        std::string name =
            top + entryName(it->path().lexically_relative(root)) + (folder ? "/" : "");
        const fs::perms perms = it->status(error).permissions();
        const bool executable = (perms & fs::perms::owner_exec) != fs::perms::none;
        entries.push_back(Entry{name, it->path(), executable});
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot read " << dir << L": " << error.message());
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

std::string readWhole(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (!stream.good() && !stream.eof()) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot read " << PackFiles::fromFsPath(path));
    }
    return bytes;
}

// Raw deflate, as zip entries hold it; stored instead when that is no smaller.
std::string deflated(const std::string& data) {
    z_stream stream = {};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        VT_RAISE("cannot start zlib's deflate");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        VT_RAISE("zlib's deflate failed");
    }
    return out;
}

// MS-DOS date and time, as zip entries keep them; within the years they can hold.
std::pair<std::uint16_t, std::uint16_t> dosDateTime(std::int64_t time) {
    const std::int64_t earliest = 315532800; // 1980-01-01
    const std::int64_t latest = 4354819199;  // 2107-12-31 23:59:59
    const std::time_t clamped =
        static_cast<std::time_t>(std::min(std::max(time, earliest), latest));
    // The tool runs one thread: gmtime's shared result is safe here.
    const std::tm utc = *std::gmtime(&clamped);
    const auto date = static_cast<std::uint16_t>(((utc.tm_year - 80) << 9) |
                                                 ((utc.tm_mon + 1) << 5) | utc.tm_mday);
    const auto clock =
        static_cast<std::uint16_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
    return {date, clock};
}

class ZipBuilder {
public:
    ZipBuilder(const tstring& zipPath, std::int64_t time)
        : zipPath(zipPath), stream(PackFiles::fsPath(zipPath), std::ios::binary | std::ios::trunc),
          when(dosDateTime(time)) {}

    void add(const Entry& entry) {
        PackHost::checkNotStopped();
        const bool folder = entry.name.back() == '/';
        const std::string data = folder ? std::string() : readWhole(entry.source);
        checkFits(data.size());
        std::string stored = folder ? std::string() : deflated(data);
        WrittenEntry written{entry.name, 0,
                             0,          static_cast<std::uint32_t>(data.size()),
                             8,          static_cast<std::uint32_t>(offset),
                             0};
        if (stored.size() >= data.size()) {
            stored = data;
            written.method = 0;
        }
        written.crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        written.compressedSize = static_cast<std::uint32_t>(stored.size());
        const std::uint32_t mode = folder ? 040755 : (entry.executable ? 0100755 : 0100644);
        written.externalAttributes = (mode << 16) | (folder ? 0x10 : 0);
        ByteWriter header;
        header.u32(0x04034b50);
        writeCommonFields(header, written);
        header.text(entry.name);
        emit(header.bytes);
        emit(stored);
        entries.push_back(written);
    }

    void finish() {
        ByteWriter directory;
        for (const WrittenEntry& entry : entries) {
            directory.u32(0x02014b50);
            directory.u16((3 << 8) | 20); // made on Unix, so the modes count
            writeCommonFields(directory, entry);
            directory.u16(0); // comment
            directory.u16(0); // disk
            directory.u16(0); // internal attributes
            directory.u32(entry.externalAttributes);
            directory.u32(entry.offset);
            directory.text(entry.name);
        }
        const std::uint64_t directoryOffset = offset;
        checkFits(directoryOffset + directory.bytes.size());
        emit(directory.bytes);
        ByteWriter end;
        end.u32(0x06054b50);
        end.u16(0);
        end.u16(0);
        end.u16(static_cast<std::uint32_t>(entries.size()));
        end.u16(static_cast<std::uint32_t>(entries.size()));
        end.u32(static_cast<std::uint32_t>(directory.bytes.size()));
        end.u32(static_cast<std::uint32_t>(directoryOffset));
        end.u16(0);
        emit(end.bytes);
        stream.close();
        if (!stream) {
            VT_RAISE(tstrings::TextBuilder() << L"cannot write " << zipPath);
        }
    }

private:
    // Version needed, flags (UTF-8 names), method, time, CRC, sizes, name length, extra length.
    void writeCommonFields(ByteWriter& out, const WrittenEntry& entry) const {
        out.u16(20);
        out.u16(0x0800);
        out.u16(entry.method);
        out.u16(when.second);
        out.u16(when.first);
        out.u32(entry.crc);
        out.u32(entry.compressedSize);
        out.u32(entry.size);
        out.u16(static_cast<std::uint32_t>(entry.name.size()));
        out.u16(0);
    }

    // Without the zip64 extension, sizes, offsets and counts stay below 4 GiB and 65535.
    void checkFits(std::uint64_t size) const {
        if (size >= 0xffffffffull || offset + size >= 0xffffffffull || entries.size() >= 0xffff) {
            VT_RAISE(tstrings::TextBuilder() << L"the image is too big for " << zipPath);
        }
    }

    void emit(const std::string& bytes) {
        stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        offset += bytes.size();
    }

    tstring zipPath;
    std::ofstream stream;
    std::pair<std::uint16_t, std::uint16_t> when;
    std::vector<WrittenEntry> entries;
    std::uint64_t offset = 0;
};

} // namespace

namespace ZipArchive {

void write(const tstring& dir, const tstring& topName, std::int64_t time, const tstring& zipPath) {
    ZipBuilder zip(zipPath, time);
    for (const Entry& entry : collectEntries(dir, topName)) {
        zip.add(entry);
    }
    zip.finish();
}

} // namespace ZipArchive
