#include "PeImage.h"

#include <algorithm>

#include "ErrorHandling.h"

namespace {

const std::uint16_t pe32PlusMagic = 0x20B;
const std::size_t sectionHeaderSize = 40;
const std::size_t maxSections = 96;
const std::uint32_t discardableSection = 0x02000000;
const std::size_t resourceDirectory = 2;
const std::size_t securityDirectory = 4;
const std::size_t relocationDirectory = 5;
const std::size_t debugDirectory = 6;
const std::size_t debugEntrySize = 28;
const std::size_t symbolSize = 18;

// Offsets in the optional header of a PE32+ image.
const std::size_t initializedDataField = 8;
const std::size_t sectionAlignmentField = 32;
const std::size_t fileAlignmentField = 36;
const std::size_t sizeOfImageField = 56;
const std::size_t sizeOfHeadersField = 60;
const std::size_t checksumField = 64;
const std::size_t directoryCountField = 108;
const std::size_t directoriesField = 112;

bool isPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

} // namespace

PeImage::PeImage(Bytes bytes, const tstring& displayName)
    : file(std::move(bytes)),
      context((tstrings::TextBuilder() << "Cannot stamp \"" << displayName << "\"").utf8()) {
    const ByteView view(file, context);
    readHeaders(view);
    readSections(view);
    findResourceSection(view);
    checkMovableTail(view);
    checkTrailingData(view);
    checkDebugData(view);
    const Section& rsrc = sections[resourceIndex];
    const std::uint32_t used =
        rsrc.virtualSize == 0 ? rsrc.rawSize : std::min(rsrc.rawSize, rsrc.virtualSize);
    tree = parseResourceSection(view.sub(rsrc.rawPointer, used), rsrc.va);
}

void PeImage::readHeaders(const ByteView& view) {
    if (view.size() < 64 || view.u16(0) != 0x5A4D) {
        VT_RAISE(view.problem("not a PE image"));
    }
    const std::uint32_t signature = view.u32(0x3C);
    if (!view.has(signature, 4) || view.u32(signature) != 0x00004550) {
        VT_RAISE(view.problem("not a PE image"));
    }
    coffHeader = signature + 4;
    optionalHeader = coffHeader + 20;
    if (view.u16(optionalHeader) != pe32PlusMagic) {
        VT_RAISE(view.problem("not a 64-bit (PE32+) image"));
    }
    fileAlignment = view.u32(optionalHeader + fileAlignmentField);
    sectionAlignment = view.u32(optionalHeader + sectionAlignmentField);
    if (!isPowerOfTwo(fileAlignment) || fileAlignment < 512 || fileAlignment > 65536 ||
        !isPowerOfTwo(sectionAlignment) || sectionAlignment < fileAlignment) {
        VT_RAISE(view.problem("unusual section or file alignment (unknown layout)"));
    }
    directoryCount = view.u32(optionalHeader + directoryCountField);
    if (directoryCount <= debugDirectory || directoryCount > 16 ||
        view.u16(coffHeader + 16) < directoriesField + 8 * directoryCount) {
        VT_RAISE(view.problem("unusual optional header (unknown layout)"));
    }
    if (directorySize(view, securityDirectory) != 0) {
        VT_RAISE(view.problem("the image is signed; stamp it before signing it"));
    }
}

void PeImage::readSections(const ByteView& view) {
    const std::size_t count = view.u16(coffHeader + 2);
    const std::size_t table = optionalHeader + view.u16(coffHeader + 16);
    const std::uint32_t headersSize = view.u32(optionalHeader + sizeOfHeadersField);
    if (count == 0 || count > maxSections || table + count * sectionHeaderSize > headersSize) {
        VT_RAISE(view.problem("unusual section table (unknown layout)"));
    }
    std::uint64_t nextVa = headersSize;
    std::uint64_t nextRaw = headersSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t header = table + i * sectionHeaderSize;
        const Section section{header,
                              view.u32(header + 8),
                              view.u32(header + 12),
                              view.u32(header + 16),
                              view.u32(header + 20),
                              view.u32(header + 36)};
        // In address order, without overlaps, in memory and in the file alike.
        if (section.va < nextVa || (section.rawSize != 0 && section.rawPointer < nextRaw)) {
            VT_RAISE(view.problem("overlapping or unordered sections (unknown layout)"));
        }
        // Moving a section by whole alignment units keeps it aligned only if it was.
        if (section.va % sectionAlignment != 0 ||
            (section.rawSize != 0 && section.rawPointer % fileAlignment != 0)) {
            VT_RAISE(view.problem("unaligned sections (unknown layout)"));
        }
        nextVa = alignUp(std::uint64_t(section.va) + std::max(section.virtualSize, section.rawSize),
                         sectionAlignment);
        if (section.rawSize != 0) {
            view.sub(section.rawPointer, section.rawSize);
            nextRaw = std::uint64_t(section.rawPointer) + section.rawSize;
        }
        sections.push_back(section);
    }
}

void PeImage::findResourceSection(const ByteView& view) {
    const std::uint32_t rva = directoryRva(view, resourceDirectory);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& section = sections[i];
        if (section.va == rva && section.rawSize != 0 && section.rawSize % fileAlignment == 0 &&
            directorySize(view, resourceDirectory) != 0) {
            resourceIndex = i;
            return;
        }
    }
    VT_RAISE(view.problem("its resources are not a section of their own (unknown layout)"));
}

// What follows the resources may move: only sections nothing but a header points at.
void PeImage::checkMovableTail(const ByteView& view) const {
    for (std::size_t i = resourceIndex + 1; i < sections.size(); ++i) {
        if ((sections[i].characteristics & discardableSection) == 0) {
            VT_RAISE(
                view.problem("a section after the resources is not discardable (unknown layout)"));
        }
    }
    const std::uint32_t resourcesStart = sections[resourceIndex].va;
    const std::uint32_t tailStart =
        resourceIndex + 1 < sections.size() ? sections[resourceIndex + 1].va : std::uint32_t(-1);
    for (std::size_t d = 0; d < directoryCount; ++d) {
        const std::uint32_t rva = directoryRva(view, d);
        const bool movable = d == relocationDirectory && rva >= tailStart;
        if (d != resourceDirectory && directorySize(view, d) != 0 && rva >= resourcesStart &&
            !movable) {
            VT_RAISE(view.problem("data directory " + std::to_string(d) +
                                  " lies in or after the resources (unknown layout)"));
        }
    }
}

// Only the COFF symbol table and its string table may follow the last section.
void PeImage::checkTrailingData(const ByteView& view) const {
    std::uint64_t end = 0;
    for (const Section& section : sections) {
        end = std::max(end, std::uint64_t(section.rawPointer) + section.rawSize);
    }
    const std::uint32_t symbols = view.u32(coffHeader + 8);
    if (symbols != 0 && end < view.size()) {
        const std::uint64_t stringTable =
            symbols + std::uint64_t(view.u32(coffHeader + 12)) * symbolSize;
        if (symbols < end || stringTable + 4 > view.size()) {
            VT_RAISE(view.problem("a symbol table outside the end of the file (unknown layout)"));
        }
        end = stringTable + view.u32(static_cast<std::size_t>(stringTable));
    }
    if (end != view.size()) {
        VT_RAISE(view.problem("data appended after its sections (unknown layout)"));
    }
}

// Debug directory entries hold file offsets, which must not move.
void PeImage::checkDebugData(const ByteView& view) const {
    const std::uint32_t size = directorySize(view, debugDirectory);
    if (size == 0) {
        return;
    }
    const ByteView entries = view.sub(rvaToOffset(view, directoryRva(view, debugDirectory)), size);
    for (std::size_t entry = 0; entry + debugEntrySize <= size; entry += debugEntrySize) {
        if (entries.u32(entry + 24) >= sections[resourceIndex].rawPointer) {
            VT_RAISE(view.problem("debug data after the resources (unknown layout)"));
        }
    }
}

std::uint32_t PeImage::directoryRva(const ByteView& view, std::size_t index) const {
    return view.u32(optionalHeader + directoriesField + 8 * index);
}

std::uint32_t PeImage::directorySize(const ByteView& view, std::size_t index) const {
    return view.u32(optionalHeader + directoriesField + 8 * index + 4);
}

std::size_t PeImage::rvaToOffset(const ByteView& view, std::uint32_t rva) const {
    for (const Section& section : sections) {
        if (rva >= section.va && rva - section.va < section.rawSize) {
            return section.rawPointer + (rva - section.va);
        }
    }
    VT_RAISE(view.problem("a data directory outside every section (unknown layout)"));
}

Bytes PeImage::withResources(const ResourceTree& resources) const {
    const Section& rsrc = sections[resourceIndex];
    const Bytes content = buildResourceSection(resources, rsrc.va);
    const std::uint64_t rawSize =
        std::max<std::uint64_t>(alignUp(content.size(), fileAlignment), rsrc.rawSize);
    std::uint64_t vaDelta = 0;
    if (resourceIndex + 1 < sections.size()) {
        const std::uint64_t end =
            alignUp(std::uint64_t(rsrc.va) + content.size(), sectionAlignment);
        vaDelta = std::max<std::uint64_t>(end, sections[resourceIndex + 1].va) -
                  sections[resourceIndex + 1].va;
    }
    const std::uint64_t lastVa = sections.back().va + vaDelta + content.size();
    if (lastVa + sections.back().virtualSize > 0xFFFFFFFFu || file.size() + rawSize > 0xFFFFFFFFu) {
        VT_RAISE(context + ": the resources would make the image exceed 4 GB");
    }
    Bytes out(file.begin(), file.begin() + rsrc.rawPointer);
    out.insert(out.end(), content.begin(), content.end());
    out.resize(rsrc.rawPointer + rawSize);
    out.insert(out.end(), file.begin() + rsrc.rawPointer + rsrc.rawSize, file.end());
    patchHeaders(out, static_cast<std::uint32_t>(content.size()),
                 static_cast<std::uint32_t>(rawSize), static_cast<std::uint32_t>(vaDelta));
    return out;
}

void PeImage::patchHeaders(Bytes& out, std::uint32_t contentSize, std::uint32_t rawSize,
                           std::uint32_t vaDelta) const {
    const ByteView view(file, context);
    const Section& rsrc = sections[resourceIndex];
    const std::uint32_t rawDelta = rawSize - rsrc.rawSize;
    const std::uint32_t movedFrom = rsrc.rawPointer + rsrc.rawSize;
    const auto shiftFileOffset = [&](std::size_t field) {
        const std::uint32_t offset = view.u32(field);
        if (offset != 0 && offset >= movedFrom) {
            put32(out, field, offset + rawDelta);
        }
    };
    put32(out, rsrc.header + 8, contentSize);
    put32(out, rsrc.header + 16, rawSize);
    std::uint32_t imageEnd = rsrc.va + contentSize;
    for (std::size_t i = resourceIndex + 1; i < sections.size(); ++i) {
        const Section& section = sections[i];
        put32(out, section.header + 12, section.va + vaDelta);
        shiftFileOffset(section.header + 20); // raw data
        shiftFileOffset(section.header + 24); // COFF relocations
        shiftFileOffset(section.header + 28); // line numbers
        imageEnd = section.va + vaDelta + std::max(section.virtualSize, section.rawSize);
    }
    shiftFileOffset(coffHeader + 8);
    const std::size_t directories = optionalHeader + directoriesField;
    put32(out, directories + 8 * resourceDirectory + 4, contentSize);
    if (directorySize(view, relocationDirectory) != 0 &&
        directoryRva(view, relocationDirectory) > rsrc.va) {
        put32(out, directories + 8 * relocationDirectory,
              directoryRva(view, relocationDirectory) + vaDelta);
    }
    put32(out, optionalHeader + initializedDataField,
          view.u32(optionalHeader + initializedDataField) + rawDelta);
    put32(out, optionalHeader + sizeOfImageField,
          static_cast<std::uint32_t>(alignUp(imageEnd, sectionAlignment)));
    put32(out, optionalHeader + checksumField, peChecksum(out, optionalHeader + checksumField));
}

std::uint32_t peChecksum(const Bytes& file, std::size_t checksumOffset) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        std::uint32_t word = file[i];
        if (i + 1 < file.size()) {
            word |= std::uint32_t(file[i + 1]) << 8;
        }
        // The field itself counts as zero, wherever it falls relative to the words.
        for (std::size_t k = 0; k < 4; ++k) {
            if (checksumOffset + k == i) {
                word &= 0xFF00;
            } else if (checksumOffset + k == i + 1) {
                word &= 0x00FF;
            }
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum + file.size());
}
