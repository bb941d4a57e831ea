#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "VersionInfo.h"

TEST(VersionInfo, VersionNumbersFillMissingPartsWithZeroAndRefuseTheRest) {
    EXPECT_EQ((VersionNumber{7, 0, 0, 0}), parseVersionNumber(L"7"));
    EXPECT_EQ((VersionNumber{1, 2, 0, 0}), parseVersionNumber(L"1.2"));
    EXPECT_EQ((VersionNumber{65535, 0, 3, 65535}), parseVersionNumber(L"65535.0.3.65535"));
    const std::pair<const wchar_t*, const char*> refused[] = {
        {L"", "expected A[.B[.C[.D]]]"},
        {L"1..2", "expected A[.B[.C[.D]]]"},
        {L"1.2.", "expected A[.B[.C[.D]]]"},
        {L"1.2.3.4.5", "expected A[.B[.C[.D]]]"},
        {L"1.2-beta", "expected A[.B[.C[.D]]] made of decimal numbers"},
        {L" 1", "expected A[.B[.C[.D]]] made of decimal numbers"},
        {L"-1", "expected A[.B[.C[.D]]] made of decimal numbers"},
        {L"1.65536", "a part exceeds 65535"},
        {L"99999999999999999999999", "a part exceeds 65535"},
    };
    for (const auto& c : refused) {
        try {
            parseVersionNumber(c.first);
            ADD_FAILURE() << tstrings::toUtf8(c.first) << " accepted";
        } catch (const VtError<std::runtime_error>& e) {
            EXPECT_EQ("Invalid version \"" + tstrings::toUtf8(c.first) + "\": " + c.second,
                      e.bareMessage());
        }
    }
}

// The whole block as the format lays it out, checked against bytes worked out by hand.
TEST(VersionInfo, BlockHasTheFixedInfoAStringTableAndTheTranslation) {
    const Bytes block = buildVersionInfo({1, 2, 3, 4}, {{L"ProductName", L"\U0001F600"}});
    ASSERT_EQ(block.size() % 4, 0u);
    const ByteView view(block, "version");
    EXPECT_EQ(block.size(), view.u16(0));
    EXPECT_EQ(52, view.u16(2));               // VS_FIXEDFILEINFO
    const std::size_t fixed = 6 + 2 * 16 + 2; // header, "VS_VERSION_INFO\0", padding
    EXPECT_EQ(0xFEEF04BDu, view.u32(fixed));
    EXPECT_EQ(0x00010002u, view.u32(fixed + 8)); // file version
    EXPECT_EQ(0x00030004u, view.u32(fixed + 12));
    EXPECT_EQ(0x00010002u, view.u32(fixed + 16)); // product version
    EXPECT_EQ(1u, view.u32(fixed + 36));          // an application
    // The string's value is two UTF-16 units, plus the terminator.
    const std::u16string value = toUtf16(L"\U0001F600");
    EXPECT_EQ((std::u16string{0xD83D, 0xDE00}), value);
    const auto find = [&](const std::u16string& text) {
        const std::string needle(reinterpret_cast<const char*>(text.c_str()), text.size() * 2);
        return std::string(block.begin(), block.end()).find(needle);
    };
    const std::size_t stringNode = find(u"ProductName") - 6;
    EXPECT_EQ(3, view.u16(stringNode + 2));
    EXPECT_EQ(1, view.u16(stringNode + 4));
    const std::size_t translation = find(u"Translation") + 2 * 12 + 2; // key, padding
    EXPECT_EQ(0x04B00409u, view.u32(translation));
    EXPECT_EQ(block.size(), translation + 4);
}
