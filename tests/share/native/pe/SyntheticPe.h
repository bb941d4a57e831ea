#ifndef VANTREL_SYNTHETICPE_H
#define VANTREL_SYNTHETICPE_H

// A minimal PE32+ image laid out as the linker lays out the launcher: code, resources holding
// a manifest, then the discardable relocations, and optionally a COFF symbol table after.
#include <string>

#include "BinaryData.h"
#include "ResourceTree.h"

namespace syntheticpe {

const std::size_t peHeader = 0x40;
const std::size_t coffHeader = peHeader + 4;
const std::size_t optionalHeader = coffHeader + 20;
const std::size_t sectionTable = optionalHeader + 240;
const std::uint32_t resourceVa = 0x2000;
const std::uint32_t resourceRaw = 0x400;
const std::uint32_t relocationVa = 0x3000;
const std::string manifest = "<assembly manifestVersion=\"1.0\"/>";
const std::string symbolTable(18 * 2 + 4, 's');

inline std::size_t directory(std::size_t index) {
    return optionalHeader + 112 + 8 * index;
}
inline std::size_t sectionHeader(std::size_t index) {
    return sectionTable + 40 * index;
}

inline ResourceTree manifestTree() {
    ResourceTree tree;
    tree[ResourceType::manifest][1][0x409] =
        ResourceData{Bytes(manifest.begin(), manifest.end()), 0};
    return tree;
}

inline void addSection(Bytes& image, std::size_t index, const char* name, std::uint32_t va,
                       std::uint32_t raw, std::uint32_t characteristics, std::uint8_t fill) {
    std::copy(name, name + std::char_traits<char>::length(name),
              image.begin() + sectionHeader(index));
    put32(image, sectionHeader(index) + 8, 0x200);
    put32(image, sectionHeader(index) + 12, va);
    put32(image, sectionHeader(index) + 16, 0x200);
    put32(image, sectionHeader(index) + 20, raw);
    put32(image, sectionHeader(index) + 36, characteristics);
    std::fill(image.begin() + raw, image.begin() + raw + 0x200, fill);
}

inline Bytes makeImage(bool withSymbols = true) {
    Bytes image(0x800, 0);
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, peHeader);
    put32(image, peHeader, 0x4550);
    put16(image, coffHeader, 0x8664);
    put16(image, coffHeader + 2, 3);
    put16(image, coffHeader + 16, 240);
    put16(image, optionalHeader, 0x20B);
    put32(image, optionalHeader + 32, 0x1000);
    put32(image, optionalHeader + 36, 0x200);
    put32(image, optionalHeader + 56, 0x4000);
    put32(image, optionalHeader + 60, 0x200);
    put32(image, optionalHeader + 108, 16);
    addSection(image, 0, ".text", 0x1000, 0x200, 0x60000020, 0xC3);
    addSection(image, 1, ".rsrc", resourceVa, resourceRaw, 0x40000040, 0);
    addSection(image, 2, ".reloc", relocationVa, 0x600, 0x42000040, 0x7E);
    const Bytes resources = buildResourceSection(manifestTree(), resourceVa);
    std::copy(resources.begin(), resources.end(), image.begin() + resourceRaw);
    put32(image, sectionHeader(1) + 8, static_cast<std::uint32_t>(resources.size()));
    put32(image, directory(2), resourceVa);
    put32(image, directory(2) + 4, static_cast<std::uint32_t>(resources.size()));
    put32(image, directory(5), relocationVa);
    put32(image, directory(5) + 4, 0x10);
    if (withSymbols) {
        put32(image, coffHeader + 8, static_cast<std::uint32_t>(image.size()));
        put32(image, coffHeader + 12, 2);
        image.insert(image.end(), symbolTable.begin(), symbolTable.end());
        put32(image, image.size() - 4, 4); // the string table: its size field alone
    }
    return image;
}

} // namespace syntheticpe

#endif
