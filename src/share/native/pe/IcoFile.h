#ifndef VANTREL_ICOFILE_H
#define VANTREL_ICOFILE_H

#include <cstdint>
#include <vector>

#include "BinaryData.h"
#include "tstrings.h"

// One image of an .ico file with its directory entry's description; data is the PNG stream
// or the BMP's DIB (header, colours, XOR and AND masks), exactly as the file holds it.
struct IconImage {
    std::uint8_t width;  // 0 means 256
    std::uint8_t height; // 0 means 256
    std::uint8_t colorCount;
    std::uint16_t planes;
    std::uint16_t bitCount;
    Bytes data;
};

// The images of an .ico file, in the file's order. Raises "Invalid icon file "<name>": ..."
// for anything malformed: a wrong header, no images, more images than the file can hold,
// an image outside the file or neither PNG nor BMP.
std::vector<IconImage> parseIcoFile(const Bytes& file, const tstring& displayName);

#endif
