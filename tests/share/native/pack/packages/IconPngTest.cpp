#include <gtest/gtest.h>

#include <zlib.h>

#include "FileUtils.h"
#include "IconPng.h"
#include "TestSupport.h"

namespace {

void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

// An .ico with one 2x2 32-bit BMP image: rows bottom up, BGRA, then a 2-row AND mask.
std::string twoByTwoIco(const std::string& bgraBottomUp) {
    std::string dib;
    putLe(dib, 40, 4);
    putLe(dib, 2, 4);
    putLe(dib, 4, 4); // XOR and AND masks
    putLe(dib, 1, 2);
    putLe(dib, 32, 2);
    dib += std::string(24, '\0') + bgraBottomUp + std::string(8, '\0');
    std::string ico;
    putLe(ico, 0, 2);
    putLe(ico, 1, 2);
    putLe(ico, 1, 2);
    ico += std::string("\x02\x02\x00\x00", 4);
    putLe(ico, 1, 2);
    putLe(ico, 32, 2);
    putLe(ico, static_cast<std::uint32_t>(dib.size()), 4);
    putLe(ico, 22, 4);
    return ico + dib;
}

// The RGBA rows of a PNG that encodePng wrote: one IDAT right after IHDR.
std::string decodedRows(const std::string& png) {
    const std::size_t idat = png.find("IDAT");
    std::uint32_t length = 0;
    for (std::size_t i = idat - 4; i < idat; ++i) {
        length = (length << 8) | static_cast<unsigned char>(png[i]);
    }
    std::string rows(64, '\0');
    uLongf size = rows.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(&rows[0]), &size,
                         reinterpret_cast<const Bytef*>(png.data() + idat + 4), length),
              Z_OK);
    rows.resize(size);
    return rows;
}

TEST(IconPng, BmpImagesOfAnIcoBecomeTopDownRgbaPngs) {
    const testsupport::TempDir dir;
    const tstring ico = FileUtils::joinPath(dir.path(), L"two.ico");
    // Bottom row: blue, green; top row: red, half-transparent white.
    testsupport::writeFile(ico, twoByTwoIco(std::string("\xff\0\0\xff"
                                                        "\0\xff\0\xff"
                                                        "\0\0\xff\xff"
                                                        "\xff\xff\xff\x80",
                                                        16)));
    const auto icons = pngIconsBySize(ico);
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons.begin()->first, 2u);
    EXPECT_EQ(decodedRows(icons.begin()->second), std::string("\0"
                                                              "\xff\0\0\xff"
                                                              "\xff\xff\xff\x80"
                                                              "\0"
                                                              "\0\0\xff\xff"
                                                              "\0\xff\0\xff",
                                                              18));

    // Without any alpha the mask drew the icon: it shows opaque.
    testsupport::writeFile(
        ico,
        twoByTwoIco(std::string("\x10\x10\x10\0\x10\x10\x10\0\x10\x10\x10\0\x10\x10\x10\0", 16)));
    EXPECT_EQ(
        decodedRows(pngIconsBySize(ico).begin()->second),
        std::string("\0\x10\x10\x10\xff\x10\x10\x10\xff\0\x10\x10\x10\xff\x10\x10\x10\xff", 18));
}

} // namespace
