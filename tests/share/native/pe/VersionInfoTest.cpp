#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "VersionInfo.h"

TEST(VersionInfo, VersionNumbersFillMissingPartsWithZeroAndRefuseTheRest) {
    const std::pair<const wchar_t*, VersionNumber> accepted[] = {
        {L"7", {7, 0, 0, 0}},
        {L"65535.0.3.65535", {65535, 0, 3, 65535}},
        {L"1.2.3-SNAPSHOT", {1, 2, 3, 0}},
        {L"2.0.0-rc.1", {2, 0, 0, 0}},
        {L"1.2-beta", {1, 2, 0, 0}},
        {L"4.1.0.9+build.77", {4, 1, 0, 9}},
        {L"5.4.2.Final", {5, 4, 2, 0}},
    };
    for (const auto& c : accepted) {
        EXPECT_EQ(c.second, parseVersionNumber(c.first)) << tstrings::toUtf8(c.first);
    }
    const char* const shape = "expected A[.B[.C[.D]]], then any qualifier";
    const std::pair<const wchar_t*, const char*> refused[] = {
        {L"", shape},
        {L"1..2", shape},
        {L"1.2.", shape},
        {L"1.2.3.4.5-rc", shape},
        {L"1.2.3.4.5", shape},
        {L"-SNAPSHOT", shape},
        {L" 1", shape},
        {L"1.65536", "a part exceeds 65535"},
        {L"70000-SNAPSHOT", "a part exceeds 65535"},
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
