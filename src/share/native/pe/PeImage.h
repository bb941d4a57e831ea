#ifndef VANTREL_PEIMAGE_H
#define VANTREL_PEIMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BinaryData.h"
#include "ResourceTree.h"
#include "tstrings.h"

// A PE32+ image whose resource section can be rewritten. The constructor checks everything
// the rewrite relies on and refuses, with "Cannot stamp "<name>": ...", a file that is not
// such an image, a signed one, and any layout in which growing the resources could move
// something the code or a header still points at.
class PeImage {
public:
    PeImage(Bytes file, const tstring& displayName);

    const ResourceTree& resources() const { return tree; }

    // The whole file with the resources replaced: the resource section grows in place and
    // the discardable sections after it (relocations, debug data) and the symbol table move
    // up; sizes, the data directories and the checksum follow.
    Bytes withResources(const ResourceTree& resources) const;

private:
    struct Section {
        std::size_t header; // offset of its section header in the file
        std::uint32_t virtualSize;
        std::uint32_t va;
        std::uint32_t rawSize;
        std::uint32_t rawPointer;
        std::uint32_t characteristics;
    };

    void readHeaders(const ByteView& view);
    void readSections(const ByteView& view);
    void findResourceSection(const ByteView& view);
    void checkMovableTail(const ByteView& view) const;
    void checkTrailingData(const ByteView& view) const;
    void checkDebugData(const ByteView& view) const;
    std::uint32_t directoryRva(const ByteView& view, std::size_t index) const;
    std::uint32_t directorySize(const ByteView& view, std::size_t index) const;
    std::size_t rvaToOffset(const ByteView& view, std::uint32_t rva) const;
    void patchHeaders(Bytes& out, std::uint32_t contentSize, std::uint32_t rawSize,
                      std::uint32_t vaDelta) const;

    Bytes file;
    std::string context;
    std::size_t coffHeader = 0;
    std::size_t optionalHeader = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t directoryCount = 0;
    std::vector<Section> sections;
    std::size_t resourceIndex = 0;
    ResourceTree tree;
};

// The image checksum of a PE file, as the loader verifies it for drivers and critical
// modules: the 16-bit one's complement sum of the file, with the checksum field read as 0,
// plus the file length.
std::uint32_t peChecksum(const Bytes& file, std::size_t checksumOffset);

#endif
