#include "IconPng.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "ErrorHandling.h"
#include "IcoFile.h"
#include "PackFiles.h"

namespace {

const std::string pngSignature("\x89PNG\r\n\x1a\n", 8);

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

std::uint32_t littleEndian(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = at + 4; i > at; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xff);
    }
}

void appendChunk(std::string& png, const char* type, const std::string& data) {
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    const std::string typed = type + data;
    png += typed;
    appendBigEndian(
        png, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()),
                                              static_cast<uInt>(typed.size()))));
}

// An 8-bit RGBA PNG of rows given top down, each row led by filter type 0.
std::string encodePng(std::uint32_t size, const std::string& rows) {
    uLongf length = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &length,
                  reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        VT_RAISE("zlib's compress failed");
    }
    packed.resize(length);
    std::string header;
    appendBigEndian(header, size);
    appendBigEndian(header, size);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    std::string png = pngSignature;
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", std::string());
    return png;
}

// A 32-bit BMP image of an icon: BGRA rows bottom up after a 40-byte header, the AND mask
// after them. Empty text for other depths or a short image.
std::string bmpToPng(const IconImage& image) {
    const Bytes& dib = image.data;
    if (dib.size() < 40 || littleEndian(dib, 0) < 40 || image.bitCount != 32) {
        return std::string();
    }
    const std::uint32_t size = littleEndian(dib, 4);
    const std::size_t start = littleEndian(dib, 0);
    if (size == 0 || size > 1024 || littleEndian(dib, 8) != 2 * size ||
        dib.size() < start + std::size_t(size) * size * 4) {
        return std::string();
    }
    const auto pixel = [&](std::uint32_t x, std::uint32_t y) {
        return start + (std::size_t(size - 1 - y) * size + x) * 4;
    };
    // Old icons leave the alpha at zero and draw through the mask: show them opaque.
    bool anyAlpha = false;
    for (std::uint32_t i = 0; i < size * size && !anyAlpha; ++i) {
        anyAlpha = dib[start + std::size_t(i) * 4 + 3] != 0;
    }
    std::string rows;
    for (std::uint32_t y = 0; y < size; ++y) {
        rows += '\0';
        for (std::uint32_t x = 0; x < size; ++x) {
            const std::size_t at = pixel(x, y);
            rows += {static_cast<char>(dib[at + 2]), static_cast<char>(dib[at + 1]),
                     static_cast<char>(dib[at]), static_cast<char>(anyAlpha ? dib[at + 3] : 0xff)};
        }
    }
    return encodePng(size, rows);
}

std::vector<std::string> candidateImages(const tstring& icon) {
    std::ifstream stream(PackFiles::fsPath(icon), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(stream)),
                            std::istreambuf_iterator<char>());
    if (!tstrings::endsWith(tstrings::toLower(icon), L".ico")) {
        return {bytes};
    }
    std::vector<std::string> images;
    for (const IconImage& image : parseIcoFile(Bytes(bytes.begin(), bytes.end()), icon)) {
        const std::string data(image.data.begin(), image.data.end());
        images.push_back(data.compare(0, 8, pngSignature) == 0 ? data : bmpToPng(image));
    }
    return images;
}

} // namespace

std::map<std::uint32_t, std::string> pngIconsBySize(const tstring& icon) {
    std::map<std::uint32_t, std::string> bySize;
    for (const std::string& image : candidateImages(icon)) {
        // The signature, then the IHDR chunk with width and height.
        if (image.size() >= 24 && image.compare(0, 8, pngSignature) == 0 &&
            bigEndian(image, 16) == bigEndian(image, 20) && bigEndian(image, 16) > 0) {
            bySize[bigEndian(image, 16)] = image;
        }
    }
    if (bySize.empty()) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the icon " << icon << L" holds no square PNG image for the Linux desktop");
    }
    return bySize;
}
