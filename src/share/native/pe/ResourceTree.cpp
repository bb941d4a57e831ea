#include "ResourceTree.h"

#include <algorithm>
#include <set>
#include <vector>

#include "ErrorHandling.h"

bool ResourceKey::operator<(const ResourceKey& other) const {
    if (isName != other.isName) {
        return isName;
    }
    return isName ? name < other.name : id < other.id;
}

bool ResourceKey::operator==(const ResourceKey& other) const {
    return !(*this < other) && !(other < *this);
}

namespace {

const std::size_t directoryHeaderSize = 16;
const std::size_t directoryEntrySize = 8;
const std::size_t dataEntrySize = 16;
const std::uint32_t subdirectoryFlag = 0x80000000u;
const std::uint32_t nameFlag = 0x80000000u;

class TreeReader {
public:
    TreeReader(const ByteView& section, std::uint32_t sectionRva)
        : section(section), sectionRva(sectionRva), budget(2 * section.size()) {}

    ResourceTree readTypes() {
        ResourceTree tree;
        forEachEntry(0, true, [&](const ResourceKey& key, std::uint32_t target) {
            ResourceNames& names = tree[key];
            forEachEntry(target, true, [&](const ResourceKey& name, std::uint32_t target) {
                ResourceLanguages& languages = names[name];
                forEachEntry(target, false, [&](const ResourceKey& language, std::uint32_t target) {
                    languages[language] = readData(target);
                });
            });
        });
        return tree;
    }

private:
    template <class Visit>
    void forEachEntry(std::uint32_t offset, bool expectDirectories, Visit&& visit) {
        claim(offset);
        const std::size_t count = std::size_t(section.u16(offset + 12)) + section.u16(offset + 14);
        std::set<ResourceKey> seen;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry = offset + directoryHeaderSize + i * directoryEntrySize;
            const ResourceKey key = readKey(section.u32(entry));
            const std::uint32_t target = section.u32(entry + 4);
            if ((target & subdirectoryFlag) == 0 ? expectDirectories : !expectDirectories) {
                VT_RAISE(section.problem("the resource tree does not have three levels"));
            }
            if (!seen.insert(key).second) {
                VT_RAISE(section.problem("a resource directory lists one entry twice"));
            }
            visit(key, target & ~subdirectoryFlag);
        }
    }

    ResourceKey readKey(std::uint32_t field) {
        if ((field & nameFlag) == 0) {
            if (field > 0xFFFF) {
                VT_RAISE(section.problem("a resource identifier exceeds 65535"));
            }
            return ResourceKey(static_cast<std::uint16_t>(field));
        }
        const std::size_t offset = field & ~nameFlag;
        const std::size_t length = section.u16(offset);
        spend(length * 2);
        const ByteView text = section.sub(offset + 2, length * 2);
        std::u16string name;
        for (std::size_t i = 0; i < length; ++i) {
            name += static_cast<char16_t>(text.u16(i * 2));
        }
        return ResourceKey(name);
    }

    ResourceData readData(std::uint32_t offset) {
        claim(offset);
        const std::uint32_t rva = section.u32(offset);
        const std::uint32_t size = section.u32(offset + 4);
        if (rva < sectionRva || !section.has(rva - sectionRva, size)) {
            VT_RAISE(section.problem("resource data lies outside the resource section"));
        }
        spend(size);
        return ResourceData{section.copy(rva - sectionRva, size), section.u32(offset + 8)};
    }

    // Entries may point at the same bytes, so that the copies outgrow the file by far; a tree
    // made by a linker copies each byte of its section once, twice leaves room for some sharing.
    void spend(std::size_t bytes) {
        if (bytes > budget) {
            VT_RAISE(section.problem("the resource entries share their bytes"));
        }
        budget -= bytes;
    }

    // Each table is read once: a shared or looping table would multiply the work.
    void claim(std::uint32_t offset) {
        if (!visited.insert(offset).second) {
            VT_RAISE(section.problem("a resource directory entry is reached twice"));
        }
    }

    const ByteView& section;
    std::uint32_t sectionRva;
    std::set<std::uint32_t> visited;
    std::size_t budget;
};

// Offsets of every part, computed before anything is written.
struct Layout {
    std::map<std::u16string, std::uint32_t> names;
    std::uint32_t directories = 0;
    std::uint32_t dataEntries = 0;
    std::vector<std::uint32_t> data;
    std::uint32_t end = 0;
};

std::uint32_t directorySize(std::size_t entries) {
    return static_cast<std::uint32_t>(directoryHeaderSize + entries * directoryEntrySize);
}

template <class Map>
void collectNames(const Map& level, Layout& layout) {
    for (const auto& entry : level) {
        if (entry.first.isName) {
            layout.names.emplace(entry.first.name, 0);
        }
    }
}

Layout layOut(const ResourceTree& tree) {
    Layout layout;
    std::uint64_t offset = directorySize(tree.size());
    collectNames(tree, layout);
    for (const auto& type : tree) {
        offset += directorySize(type.second.size());
        collectNames(type.second, layout);
        for (const auto& name : type.second) {
            offset += directorySize(name.second.size());
            collectNames(name.second, layout);
            layout.dataEntries += static_cast<std::uint32_t>(name.second.size());
        }
    }
    for (auto& name : layout.names) {
        name.second = static_cast<std::uint32_t>(offset);
        offset += 2 + 2 * name.first.size();
    }
    offset = alignUp(offset, 8);
    const std::uint64_t dataEntriesStart = offset;
    offset += std::uint64_t(layout.dataEntries) * dataEntrySize;
    for (const auto& type : tree) {
        for (const auto& name : type.second) {
            for (const auto& language : name.second) {
                layout.data.push_back(static_cast<std::uint32_t>(offset));
                offset = alignUp(offset + language.second.bytes.size(), 8);
            }
        }
    }
    if (offset > 0x7FFFFFFF) {
        VT_RAISE("The resources would exceed 2 GB");
    }
    layout.dataEntries = static_cast<std::uint32_t>(dataEntriesStart);
    layout.end = static_cast<std::uint32_t>(offset);
    return layout;
}

class TreeWriter {
public:
    TreeWriter(const ResourceTree& tree, std::uint32_t sectionRva)
        : tree(tree), sectionRva(sectionRva), layout(layOut(tree)), out(layout.end) {}

    Bytes write() {
        // Tables breadth first: the root, then each type's, then each name's.
        std::uint32_t next = directorySize(tree.size());
        std::uint32_t dataIndex = 0;
        std::uint32_t at = writeTable(
            0, tree, next, [&](const ResourceNames& names) { return directorySize(names.size()); });
        for (const auto& type : tree) {
            at = writeTable(at, type.second, next, [&](const ResourceLanguages& languages) {
                return directorySize(languages.size());
            });
        }
        for (const auto& type : tree) {
            for (const auto& name : type.second) {
                at = writeLanguages(at, name.second, dataIndex);
            }
        }
        writeNames();
        return out;
    }

private:
    template <class Map, class ChildSize>
    std::uint32_t writeTable(std::uint32_t at, const Map& level, std::uint32_t& next,
                             ChildSize&& childSize) {
        std::uint32_t entry = writeHeader(at, level);
        for (const auto& child : level) {
            put32(out, entry, keyField(child.first));
            put32(out, entry + 4, next | subdirectoryFlag);
            next += childSize(child.second);
            entry += directoryEntrySize;
        }
        return entry;
    }

    std::uint32_t writeLanguages(std::uint32_t at, const ResourceLanguages& languages,
                                 std::uint32_t& dataIndex) {
        std::uint32_t entry = writeHeader(at, languages);
        for (const auto& language : languages) {
            const std::uint32_t dataEntry = layout.dataEntries + dataIndex * dataEntrySize;
            const std::uint32_t dataOffset = layout.data[dataIndex++];
            put32(out, entry, keyField(language.first));
            put32(out, entry + 4, dataEntry);
            put32(out, dataEntry, sectionRva + dataOffset);
            put32(out, dataEntry + 4, static_cast<std::uint32_t>(language.second.bytes.size()));
            put32(out, dataEntry + 8, language.second.codePage);
            std::copy(language.second.bytes.begin(), language.second.bytes.end(),
                      out.begin() + dataOffset);
            entry += directoryEntrySize;
        }
        return entry;
    }

    template <class Map>
    std::uint32_t writeHeader(std::uint32_t at, const Map& level) {
        std::uint16_t named = 0;
        for (const auto& child : level) {
            named = static_cast<std::uint16_t>(named + (child.first.isName ? 1 : 0));
        }
        put16(out, at + 12, named);
        put16(out, at + 14, static_cast<std::uint16_t>(level.size() - named));
        return at + directoryHeaderSize;
    }

    std::uint32_t keyField(const ResourceKey& key) const {
        return key.isName ? layout.names.at(key.name) | nameFlag : key.id;
    }

    void writeNames() {
        for (const auto& name : layout.names) {
            put16(out, name.second, static_cast<std::uint16_t>(name.first.size()));
            for (std::size_t i = 0; i < name.first.size(); ++i) {
                put16(out, name.second + 2 + 2 * i, name.first[i]);
            }
        }
    }

    const ResourceTree& tree;
    std::uint32_t sectionRva;
    Layout layout;
    Bytes out;
};

} // namespace

ResourceTree parseResourceSection(const ByteView& section, std::uint32_t sectionRva) {
    return TreeReader(section, sectionRva).readTypes();
}

Bytes buildResourceSection(const ResourceTree& tree, std::uint32_t sectionRva) {
    return TreeWriter(tree, sectionRva).write();
}
