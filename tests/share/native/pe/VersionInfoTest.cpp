#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "VersionInfo.h"

TEST(VersionInfo, VersionNumbersFillMissingPartsWithZeroAndRefuseTheRest) {
    EXPECT_EQ((VersionNumber{7, 0, 0, 0}), parseVersionNumber(L"7"));
    EXPECT_EQ((VersionNumber{65535, 0, 3, 65535}), parseVersionNumber(L"65535.0.3.65535"));
    const std::pair<const wchar_t*, const char*> refused[] = {
        {L"", "expected A[.B[.C[.D]]]"},
        {L"1..2", "expected A[.B[.C[.D]]]"},
        {L"1.2.", "expected A[.B[.C[.D]]]"},
        {L"1.2.3.4.5", "expected A[.B[.C[.D]]]"},
        {L"1.2-beta", "expected A[.B[.C[.D]]] made of decimal numbers"},
        {L" 1", "expected A[.B[.C[.D]]] made of decimal numbers"},
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

// Where wchar_t holds whole code points, those beyond 16 bits become surrogate pairs.
TEST(VersionInfo, TextOutsideTheBasicPlaneBecomesASurrogatePair) {
    EXPECT_EQ((std::u16string{u'\u00c9', 0xD83D, 0xDE00}), toUtf16(L"\u00c9\U0001F600"));
}
