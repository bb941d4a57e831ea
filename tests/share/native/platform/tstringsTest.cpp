#include <gtest/gtest.h>

#include <stdexcept>

#include "tstrings.h"

using namespace tstrings;

TEST(TextConversion, EmptyTextConvertsToEmptyText) {
    EXPECT_EQ("", toUtf8(L""));
    EXPECT_EQ(L"", fromUtf8(""));
}

TEST(TextConversion, Utf8RoundTripKeepsNonAsciiAndEmbeddedNul) {
    const tstring text(L"a\u00e9\u20ac\0z", 5);
    const std::string utf8("a\xc3\xa9\xe2\x82\xac\0z", 8);
    EXPECT_EQ(utf8, toUtf8(text));
    EXPECT_EQ(text, fromUtf8(utf8));
}

TEST(TextConversion, CharacterOutsideTheBasicPlaneRoundTrips) {
    const std::string utf8("\xf0\x9f\x98\x80");
    EXPECT_EQ(utf8, toUtf8(fromUtf8(utf8)));
    EXPECT_FALSE(fromUtf8(utf8).empty());
}

TEST(TextConversion, InvalidUtf8GivesEmptyText) {
    EXPECT_EQ(L"", fromUtf8("abc\xff"));
    EXPECT_EQ(L"", fromUtf8("\xc0\xaf"));         // overlong '/'
    EXPECT_EQ(L"", fromUtf8("\xed\xa0\x80"));     // encoded surrogate
    EXPECT_EQ(L"", fromUtf8("\xe2\x82"));         // truncated sequence
    EXPECT_EQ(L"", fromUtf8("\xf4\x90\x80\x80")); // above U+10FFFF
}

TEST(TextComparison, CaseModes) {
    EXPECT_TRUE(equals(L"ABC", L"abc", IgnoreCase));
    EXPECT_FALSE(equals(L"ABC", L"abc", Exact));
    EXPECT_FALSE(equals(L"\u00c9", L"\u00e9", IgnoreCase));
    EXPECT_FALSE(equals(L"ABC", L"abc", 7)); // anything but 1 compares exactly
    EXPECT_TRUE(endsWith(L"a.cfg", L".CFG", IgnoreCase));
    EXPECT_FALSE(endsWith(L"a.cfg", L".CFG", Exact));
    EXPECT_FALSE(startsWith(L"ab", L"abc"));
    EXPECT_TRUE(startsWith(L"ab", L""));
    EXPECT_TRUE(endsWith(L"", L""));
    EXPECT_EQ(L"abc\u00c9-z", toLower(L"AbC\u00c9-Z"));
}

TEST(TextEdit, ReplaceNeverSearchesInsertedText) {
    EXPECT_EQ(L"aaaaaa", replace(L"aaa", L"a", L"aa"));
    EXPECT_EQ(L"x", replace(L"x", L"", L"y"));
    EXPECT_EQ(L"1-2-3", replace(L"1, 2, 3", L", ", L"-"));
}

TEST(TextEdit, SplitKeepsEmptyPieces) {
    EXPECT_EQ((tstring_array{L"a", L"", L"b"}), split(L"a,,b", L","));
    EXPECT_EQ((tstring_array{L"", L"a", L""}), split(L",a,", L","));
    EXPECT_EQ((tstring_array{L"abc"}), split(L"abc", L","));
    EXPECT_EQ((tstring_array{L"a", L"b"}), split(L"a<>b", L"<>"));
    EXPECT_TRUE(split(L"", L",").empty());
    EXPECT_TRUE(split(L"a", L"").empty());
}

TEST(TextFormat, LongResultIsWhole) {
    const tstring long300(300, L'x');
    EXPECT_EQ(long300 + L"|42", format(L"%ls|%u", long300.c_str(), 42u));
    EXPECT_EQ(L"0007/05", format(L"%04u/%02u", 7u, 5u));
}

TEST(TextFormat, NullFormatIsAnInvalidArgument) {
    EXPECT_THROW(format(nullptr), std::invalid_argument);
}

TEST(TextBuilderTest, NarrowInsertionWidensBytesButConstructionDecodes) {
    const char* eAcute = "\xc3\xa9";
    EXPECT_EQ(2u, (TextBuilder() << eAcute).text().size());
    EXPECT_EQ(L"\u00e9", TextBuilder(eAcute).text());
    EXPECT_EQ(L"\u00e9", TextBuilder(std::string(eAcute)).text());
}

TEST(TextBuilderTest, NumbersAndPointers) {
    EXPECT_EQ(L"-5 7 18446744073709551615",
              (TextBuilder() << -5 << L" " << 7u << L" " << 18446744073709551615ull).text());
    EXPECT_EQ(L"00000000DEADBEEF", (TextBuilder() << reinterpret_cast<const void*>(0xDEADBEEF)).text());
    EXPECT_EQ(L"0000000000000000", (TextBuilder() << static_cast<const void*>(nullptr)).text());
    EXPECT_EQ("x=\xc3\xa9", (TextBuilder() << L"x=" << L"\u00e9").utf8());
}
