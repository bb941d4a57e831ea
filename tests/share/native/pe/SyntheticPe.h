#ifndef VANTREL_SYNTHETICPE_H
#define VANTREL_SYNTHETICPE_H

// A minimal PE32+ image laid out as the linker lays out the launcher: code, resources holding
// a manifest, the discardable relocations, and optionally a COFF symbol table after them.
#include <iterator>

#include "BinaryData.h"
#include "ResourceTree.h"

namespace syntheticpe {

const std::uint32_t coffHeader = 0x44;
const std::uint32_t optionalHeader = coffHeader + 20;
const std::uint32_t resourceRaw = 0x400;
const std::string symbolTable(18 * 2 + 4, 's');

inline std::uint32_t directory(std::uint32_t index) {
    return optionalHeader + 112 + 8 * index;
}
inline std::size_t sectionHeader(std::size_t index) {
    return optionalHeader + 240 + 40 * index;
}

inline ResourceTree manifestTree() {
    const std::string manifest = "<assembly manifestVersion=\"1.0\"/>";
    ResourceTree tree;
    tree[ResourceType::manifest][1][0x409].bytes.assign(manifest.begin(), manifest.end());
    return tree;
}

inline Bytes makeImage(bool withSymbols = true, const ResourceTree& tree = manifestTree()) {
    Bytes image(0x800, 0);
    // offset, value: the signatures, machine and section count, alignments, sizes, relocations
    // clang-format off
    const std::uint32_t headers[] = {
        0, 0x5A4D, 0x3C, 0x40, 0x40, 0x4550, coffHeader, 0x00038664, coffHeader + 16, 240,
        optionalHeader, 0x20B, optionalHeader + 32, 0x1000, optionalHeader + 36, 0x200,
        optionalHeader + 56, 0x4000, optionalHeader + 60, 0x200, optionalHeader + 108, 16,
        directory(5), 0x3000, directory(5) + 4, 0x10};
    // clang-format on
    for (std::size_t i = 0; i < std::size(headers); i += 2) {
        put32(image, headers[i], headers[i + 1]);
    }
    // .text, .rsrc, .reloc: virtual address, raw offset, characteristics, filling
    const std::uint32_t sections[][4] = {{0x1000, 0x200, 0x60000020, 0xC3},
                                         {0x2000, resourceRaw, 0x40000040, 0},
                                         {0x3000, 0x600, 0x42000040, 0x7E}};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint32_t fields[] = {0x200, sections[i][0], 0x200, sections[i][1]};
        for (std::size_t k = 0; k < 4; ++k) {
            put32(image, sectionHeader(i) + 8 + 4 * k, fields[k]);
        }
        put32(image, sectionHeader(i) + 36, sections[i][2]);
        std::fill_n(image.begin() + sections[i][1], 0x200, std::uint8_t(sections[i][3]));
    }
    const Bytes resources = buildResourceSection(tree, 0x2000);
    std::copy(resources.begin(), resources.end(), image.begin() + resourceRaw);
    const auto resourceSize = static_cast<std::uint32_t>(resources.size());
    put32(image, sectionHeader(1) + 8, resourceSize);
    put32(image, directory(2), 0x2000);
    put32(image, directory(2) + 4, resourceSize);
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
