#include "IcoFile.h"

#include <cstring>

#include "ErrorHandling.h"

namespace {

const std::size_t headerSize = 6;
const std::size_t entrySize = 16;
const std::uint8_t pngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool isPng(const ByteView& image) {
    return image.has(0, sizeof(pngSignature)) &&
           std::memcmp(image.data(), pngSignature, sizeof(pngSignature)) == 0;
}

// Bits per pixel of a PNG from its IHDR chunk, which must come first.
std::uint16_t pngBitCount(const ByteView& image) {
    const ByteView ihdr = image.sub(8, 25);
    if (ihdr.u32(0) != 0x0D000000 || std::memcmp(ihdr.data() + 4, "IHDR", 4) != 0) {
        VT_RAISE(image.problem("a PNG image does not start with its IHDR chunk"));
    }
    const std::uint8_t depth = ihdr.u8(16);
    switch (ihdr.u8(17)) { // colour type: samples per pixel
    case 0:
    case 3:
        return depth;
    case 2:
        return static_cast<std::uint16_t>(depth * 3);
    case 4:
        return static_cast<std::uint16_t>(depth * 2);
    case 6:
        return static_cast<std::uint16_t>(depth * 4);
    default:
        VT_RAISE(image.problem("a PNG image has an unknown colour type"));
    }
}

// Bits per pixel of a DIB from its BITMAPINFOHEADER (or a later, larger header).
std::uint16_t bmpBitCount(const ByteView& image) {
    const std::uint32_t headerLength = image.u32(0);
    if (headerLength < 40 || !image.has(0, headerLength)) {
        VT_RAISE(image.problem("an image is neither PNG nor a BMP with a complete header"));
    }
    const std::uint16_t bitCount = image.u16(14);
    if (image.u16(12) != 1 || (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 &&
                               bitCount != 24 && bitCount != 32)) {
        VT_RAISE(image.problem("a BMP image has " + std::to_string(image.u16(12)) + " planes of " +
                               std::to_string(bitCount) + " bits"));
    }
    return bitCount;
}

IconImage readImage(const ByteView& file, std::size_t entry, std::size_t firstImageOffset) {
    const std::uint32_t length = file.u32(entry + 8);
    const std::uint32_t offset = file.u32(entry + 12);
    if (length == 0 || offset < firstImageOffset || !file.has(offset, length)) {
        VT_RAISE(file.problem("an image of " + std::to_string(length) + " bytes at offset " +
                              std::to_string(offset) + " lies outside the file's " +
                              std::to_string(file.size()) + " bytes"));
    }
    const ByteView image = file.sub(offset, length);
    const std::uint16_t bitCount = isPng(image) ? pngBitCount(image) : bmpBitCount(image);
    const std::uint16_t planes = file.u16(entry + 4);
    return IconImage{file.u8(entry),     file.u8(entry + 1),
                     file.u8(entry + 2), planes == 0 ? std::uint16_t(1) : planes,
                     bitCount,           image.copy(0, length)};
}

} // namespace

std::vector<IconImage> parseIcoFile(const Bytes& bytes, const tstring& displayName) {
    const ByteView file(
        bytes, (tstrings::TextBuilder() << "Invalid icon file \"" << displayName << "\"").utf8());
    if (file.u16(0) != 0 || file.u16(2) != 1) {
        VT_RAISE(file.problem("not an .ico file"));
    }
    const std::size_t count = file.u16(4);
    if (count == 0) {
        VT_RAISE(file.problem("it holds no image"));
    }
    const std::size_t imagesStart = headerSize + count * entrySize;
    if (imagesStart > file.size()) {
        VT_RAISE(file.problem("its directory announces " + std::to_string(count) +
                              " images, more than its " + std::to_string(file.size()) +
                              " bytes can hold"));
    }
    std::vector<IconImage> images;
    for (std::size_t i = 0; i < count; ++i) {
        images.push_back(readImage(file, headerSize + i * entrySize, imagesStart));
    }
    return images;
}
