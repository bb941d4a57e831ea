#ifndef VANTREL_RESOURCETREE_H
#define VANTREL_RESOURCETREE_H

#include <cstdint>
#include <map>
#include <string>

#include "BinaryData.h"

// A resource type, name or language: a number, or a name in UTF-16. Ordered as a resource
// directory lists its entries: names first, then numbers, each ascending.
struct ResourceKey {
    ResourceKey(std::uint16_t id) : id(id) {}
    explicit ResourceKey(std::u16string name) : isName(true), name(std::move(name)) {}

    bool operator<(const ResourceKey& other) const;
    bool operator==(const ResourceKey& other) const;

    bool isName = false;
    std::uint16_t id = 0;
    std::u16string name;
};

struct ResourceData {
    Bytes bytes;
    std::uint32_t codePage = 0;

    bool operator==(const ResourceData& other) const {
        return bytes == other.bytes && codePage == other.codePage;
    }
};

typedef std::map<ResourceKey, ResourceData> ResourceLanguages;
typedef std::map<ResourceKey, ResourceLanguages> ResourceNames;
// type -> name -> language -> data: the three levels every resource section has.
typedef std::map<ResourceKey, ResourceNames> ResourceTree;

namespace ResourceType {
const std::uint16_t icon = 3;
const std::uint16_t groupIcon = 14;
const std::uint16_t version = 16;
const std::uint16_t manifest = 24;
} // namespace ResourceType

// Reads the tree of a resource section whose first byte is at sectionRva. Data must lie in
// the section; every directory and data entry must be reached once (no sharing, no loops).
ResourceTree parseResourceSection(const ByteView& section, std::uint32_t sectionRva);

// The contents of a resource section at sectionRva holding the tree.
Bytes buildResourceSection(const ResourceTree& tree, std::uint32_t sectionRva);

#endif
