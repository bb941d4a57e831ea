#include <gtest/gtest.h>

#include <functional>

#include "ErrorHandling.h"
#include "PeImage.h"
#include "SyntheticPe.h"

using namespace syntheticpe;

namespace {

ResourceTree largeTree() {
    ResourceTree tree = manifestTree();
    tree[ResourceType::version][1][0] = ResourceData{Bytes(0x2345, 0x5A), 0};
    tree[ResourceKey(u"NAMED")][ResourceKey(u"X")][0] = ResourceData{Bytes{1, 2, 3}, 1252};
    tree[ResourceKey(u"NAMED")][7][ResourceKey(u"ODD")] = ResourceData{Bytes{4}, 0};
    return tree;
}

std::uint32_t field(const Bytes& image, std::size_t offset) {
    return ByteView(image, "image").u32(offset);
}

std::string bytesAt(const Bytes& image, std::size_t offset, std::size_t count) {
    return std::string(image.begin() + offset, image.begin() + offset + count);
}

} // namespace

TEST(PeImage, GrowingTheResourcesMovesWhatFollowsAndKeepsEverythingElse) {
    const Bytes original = makeImage();
    const Bytes stamped = PeImage(original, L"a.exe").withResources(largeTree());
    const PeImage reread(stamped, L"a.exe");
    EXPECT_EQ(largeTree().size(), reread.resources().size());
    EXPECT_EQ(largeTree().at(ResourceType::version).at(1).at(0).bytes,
              reread.resources().at(ResourceType::version).at(1).at(0).bytes);
    EXPECT_EQ(manifestTree().at(24).at(1).at(0x409).bytes,
              reread.resources().at(24).at(1).at(0x409).bytes);
    EXPECT_EQ(1252u,
              reread.resources().at(ResourceKey(u"NAMED")).at(ResourceKey(u"X")).at(0).codePage);
    // Code untouched; the relocations moved whole, in memory and in the file.
    EXPECT_EQ(bytesAt(original, 0x200, 0x200), bytesAt(stamped, 0x200, 0x200));
    const std::uint32_t resourceSize = field(stamped, directory(2) + 4);
    EXPECT_EQ(resourceSize, field(stamped, sectionHeader(1) + 8));
    EXPECT_EQ(0x2600u, field(stamped, sectionHeader(1) + 16));
    const std::uint32_t relocVa = field(stamped, sectionHeader(2) + 12);
    EXPECT_EQ(0x5000u, relocVa);
    EXPECT_EQ(relocVa, field(stamped, directory(5)));
    EXPECT_EQ(bytesAt(original, 0x600, 0x200),
              bytesAt(stamped, field(stamped, sectionHeader(2) + 20), 0x200));
    EXPECT_EQ(symbolTable.substr(0, 36), bytesAt(stamped, field(stamped, coffHeader + 8), 36));
    EXPECT_EQ(original.size() + 0x2400, stamped.size());
    EXPECT_EQ(0x6000u, field(stamped, optionalHeader + 56));
    EXPECT_EQ(peChecksum(stamped, optionalHeader + 64), field(stamped, optionalHeader + 64));
    EXPECT_NE(0u, field(stamped, optionalHeader + 64));
}

TEST(PeImage, ResourcesThatStillFitStayInPlace) {
    Bytes original = makeImage(false);
    const Bytes stamped = PeImage(original, L"a.exe").withResources(manifestTree());
    EXPECT_EQ(original.size(), stamped.size());
    EXPECT_EQ(relocationVa, field(stamped, directory(5)));
    put32(original, optionalHeader + 64, field(stamped, optionalHeader + 64));
    EXPECT_EQ(original, stamped);
}

TEST(PeImage, RefusesWhatItCannotRewriteSafely) {
    struct Case {
        std::function<void(Bytes&)> damage;
        const char* message;
    };
    const std::size_t rootEntry = resourceRaw + 16;
    const Case cases[] = {
        {[](Bytes& f) { f.assign(100, 'x'); }, "not a PE image"},
        {[](Bytes& f) { put32(f, 0x3C, 0xFFFFFFF0); }, "not a PE image"},
        {[](Bytes& f) { f.resize(0x100); }, "truncated"},
        {[](Bytes& f) { put16(f, optionalHeader, 0x10B); }, "not a 64-bit (PE32+) image"},
        {[](Bytes& f) { put32(f, directory(4) + 4, 0x100); },
         "the image is signed; stamp it before signing it"},
        {[](Bytes& f) { put32(f, optionalHeader + 36, 0x300); },
         "unusual section or file alignment"},
        {[](Bytes& f) { put16(f, coffHeader + 2, 60); }, "unusual section table"},
        {[](Bytes& f) { put32(f, sectionHeader(2) + 12, 0x1000); },
         "overlapping or unordered sections"},
        {[](Bytes& f) { put32(f, sectionHeader(2) + 16, 0x10000); }, "truncated"},
        {[](Bytes& f) { put32(f, directory(2), 0x2100); },
         "its resources are not a section of their own"},
        {[](Bytes& f) { put32(f, sectionHeader(2) + 36, 0x40000040); },
         "a section after the resources is not discardable"},
        {[](Bytes& f) { put32(f, directory(0), 0x3000), put32(f, directory(0) + 4, 8); },
         "data directory 0 lies in or after the resources"},
        {[](Bytes& f) { f.push_back(0); }, "data appended after its sections"},
        {[](Bytes& f) { put32(f, coffHeader + 12, 1000); },
         "a symbol table outside the end of the file"},
        {[](Bytes& f) {
             put32(f, directory(6), 0x1000), put32(f, directory(6) + 4, 28),
                 put32(f, 0x200 + 24, 0x600);
         },
         "debug data after the resources"},
        {[&](Bytes& f) { put32(f, rootEntry + 4, 0x80000000); },
         "a resource directory entry is reached twice"},
        {[&](Bytes& f) { put32(f, rootEntry + 4, 0); },
         "the resource tree does not have three levels"},
        {[&](Bytes& f) { put32(f, rootEntry, 0x80001000); }, "truncated"},
        {[&](Bytes& f) { put16(f, resourceRaw + 14, 0x7FFF); }, "does not have three levels"},
        {[&](Bytes& f) { put32(f, resourceRaw + 0x48, 0x1000); },
         "resource data lies outside the resource section"},
    };
    for (const Case& c : cases) {
        Bytes file = makeImage();
        c.damage(file);
        try {
            PeImage(file, L"app.exe").withResources(manifestTree());
            ADD_FAILURE() << c.message << ": accepted";
        } catch (const VtError<std::runtime_error>& e) {
            const std::string message = e.bareMessage();
            EXPECT_EQ(0u, message.rfind("Cannot stamp \"app.exe\": ", 0)) << message;
            EXPECT_NE(std::string::npos, message.find(c.message)) << c.message << " / " << message;
        }
    }
}
