#include <gtest/gtest.h>

#include <functional>

#include "ErrorHandling.h"
#include "PeImage.h"
#include "SyntheticPe.h"

using namespace syntheticpe;

namespace {

std::uint32_t field(const Bytes& image, std::size_t offset) {
    return ByteView(image, "image").u32(offset);
}

Bytes bytesAt(const Bytes& image, std::size_t offset, std::size_t count) {
    return ByteView(image, "image").copy(offset, count);
}

} // namespace

TEST(PeImage, GrowingTheResourcesMovesWhatFollowsAndKeepsEverythingElse) {
    ResourceTree tree = manifestTree();
    tree[ResourceType::version][1][0].bytes.assign(0x2345, 0x5A);
    tree[ResourceKey(u"NAMED")][ResourceKey(u"X")][0] = ResourceData{Bytes{1, 2, 3}, 1252};
    tree[ResourceKey(u"NAMED")][7][ResourceKey(u"ODD")].bytes = {4};
    const Bytes original = makeImage();
    const Bytes stamped = PeImage(original, L"a.exe").withResources(tree);
    EXPECT_EQ(tree, PeImage(stamped, L"a.exe").resources());
    // Code in place; relocations and symbols moved whole, in memory and in the file.
    EXPECT_EQ(bytesAt(original, 0x200, 0x200), bytesAt(stamped, 0x200, 0x200));
    EXPECT_EQ(field(stamped, directory(2) + 4), field(stamped, sectionHeader(1) + 8));
    EXPECT_EQ(0x2600u, field(stamped, sectionHeader(1) + 16));
    EXPECT_EQ((std::vector<std::uint32_t>{0x5000, 0x5000, 0x6000}),
              (std::vector<std::uint32_t>{field(stamped, sectionHeader(2) + 12),
                                          field(stamped, directory(5)),
                                          field(stamped, optionalHeader + 56)}));
    EXPECT_EQ(bytesAt(original, 0x600, 0x200),
              bytesAt(stamped, field(stamped, sectionHeader(2) + 20), 0x200));
    EXPECT_EQ(Bytes(symbolTable.begin(), symbolTable.end() - 4),
              bytesAt(stamped, field(stamped, coffHeader + 8), symbolTable.size() - 4));
    EXPECT_EQ(original.size() + 0x2400, stamped.size());
    EXPECT_EQ(peChecksum(stamped, optionalHeader + 64), field(stamped, optionalHeader + 64));
}

TEST(PeImage, ResourcesThatStillFitChangeNothingButTheChecksum) {
    Bytes original = makeImage(false);
    const Bytes stamped = PeImage(original, L"a.exe").withResources(manifestTree());
    EXPECT_NE(0u, field(stamped, optionalHeader + 64));
    put32(original, optionalHeader + 64, field(stamped, optionalHeader + 64));
    EXPECT_EQ(original, stamped);
}

TEST(PeImage, RefusesWhatItCannotRewriteSafely) {
    const std::size_t rootEntry = resourceRaw + 16;
    const std::pair<std::function<void(Bytes&)>, const char*> cases[] = {
        {[](Bytes& f) { f.assign(100, 'x'); }, "not a PE image"},
        {[](Bytes& f) { f.resize(0x100); }, "truncated"},
        {[](Bytes& f) { put16(f, optionalHeader, 0x10B); }, "not a 64-bit (PE32+) image"},
        {[](Bytes& f) { put32(f, directory(4) + 4, 8); }, "signed; stamp it before signing it"},
        {[](Bytes& f) { put32(f, optionalHeader + 36, 0x300); }, "unusual section or file"},
        {[](Bytes& f) { put16(f, coffHeader + 2, 60); }, "unusual section table"},
        {[](Bytes& f) { put32(f, sectionHeader(2) + 12, 0x1000); }, "overlapping or unordered"},
        {[](Bytes& f) { put32(f, sectionHeader(2) + 20, 0x610); }, "unaligned sections"},
        {[](Bytes& f) { put32(f, directory(2), 0x2100); }, "not a section of their own"},
        {[](Bytes& f) { put32(f, sectionHeader(2) + 36, 0x40000040); }, "is not discardable"},
        {[](Bytes& f) { put32(f, directory(0), 0x3000), put32(f, directory(0) + 4, 8); },
         "data directory 0 lies in or after the resources"},
        {[](Bytes& f) { f.push_back(0); }, "data appended after its sections"},
        {[](Bytes& f) { put32(f, coffHeader + 12, 1000); }, "a symbol table outside the end"},
        {[](Bytes& f) {
             put32(f, directory(6), 0x1000), put32(f, directory(6) + 4, 28);
             put32(f, 0x200 + 24, 0x600);
         },
         "debug data after the resources"},
        {[&](Bytes& f) { put32(f, rootEntry + 4, 0x80000000); }, "entry is reached twice"},
        {[&](Bytes& f) { put32(f, rootEntry + 4, 0); }, "does not have three levels"},
        {[&](Bytes& f) { put32(f, rootEntry, 0x80001000); }, "truncated"},
        {[&](Bytes& f) { put32(f, resourceRaw + 0x48, 0x1000); }, "data lies outside the resource"},
    };
    for (const auto& c : cases) {
        Bytes file = makeImage();
        c.first(file);
        try {
            PeImage(file, L"app.exe").withResources(manifestTree());
            ADD_FAILURE() << c.second << ": accepted";
        } catch (const VtError<std::runtime_error>& e) {
            const std::string message = e.bareMessage();
            EXPECT_EQ(0u, message.rfind("Cannot stamp \"app.exe\": ", 0)) << message;
            EXPECT_NE(std::string::npos, message.find(c.second)) << c.second << " / " << message;
        }
    }
}

// Data entries that all point at the whole section would multiply it in memory.
TEST(PeImage, ResourceEntriesSharingTheirBytesAreRefused) {
    ResourceTree tree;
    for (std::uint16_t language : {1, 2, 3}) {
        tree[ResourceType::manifest][1][language].bytes.assign(100, 'm');
    }
    Bytes file = makeImage(true, tree);
    const std::uint32_t sectionSize = field(file, sectionHeader(1) + 8);
    int shared = 0;
    for (std::size_t at = resourceRaw; at + 8 <= resourceRaw + sectionSize; at += 4) {
        if (field(file, at + 4) == 100 && field(file, at) >= 0x2000) {
            put32(file, at, 0x2000);
            put32(file, at + 4, sectionSize);
            ++shared;
        }
    }
    ASSERT_EQ(shared, 3);
    try {
        PeImage(file, L"app.exe").resources();
        ADD_FAILURE() << "accepted";
    } catch (const VtError<std::runtime_error>& e) {
        const std::string message = e.bareMessage();
        EXPECT_EQ(0u, message.rfind("Cannot stamp \"app.exe\": ", 0)) << message;
        EXPECT_NE(std::string::npos, message.find("the resource entries share their bytes"))
            << message;
    }
}
