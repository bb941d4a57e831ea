#ifndef VANTREL_TSTRINGS_H
#define VANTREL_TSTRINGS_H

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

// Wide text everywhere inside the launcher. On Windows wchar_t is a UTF-16 code unit; on Linux
// it holds a whole code point and the conversions keep the same observable rules.
typedef std::wstring tstring;
typedef std::vector<tstring> tstring_array;

namespace tstrings {

enum CaseMode { Exact = 0, IgnoreCase = 1 };

// The platform's conversions between text and the bytes of a code page (the process's ANSI
// code page is UTF-8 on Linux). Invalid input converts to empty text.
enum class CodePage { Utf8, Ansi };
std::string toMultiByte(const tstring& text, CodePage codePage);
tstring fromMultiByte(const std::string& text, CodePage codePage);

std::string toUtf8(const tstring& text);
tstring fromUtf8(const std::string& text);

// Text as UTF-16 code units, and back. Windows text is UTF-16 already. Where wchar_t holds whole
// code points, one beyond the BMP becomes a surrogate pair, one beyond U+10FFFF U+FFFD, and a
// lone surrogate passes unchanged either way, as it does in UTF-16 text.
template <class Unit = char16_t>
std::basic_string<Unit> toUtf16(const tstring& text) {
    static_assert(sizeof(Unit) == 2, "UTF-16 code units");
    std::basic_string<Unit> result;
    result.reserve(text.size());
    for (const wchar_t c : text) {
        const auto point = static_cast<std::uint32_t>(c);
        if (sizeof(wchar_t) == sizeof(Unit) || point < 0x10000) {
            result.push_back(static_cast<Unit>(point));
        } else if (point <= 0x10FFFF) {
            result.push_back(static_cast<Unit>(0xD800 + ((point - 0x10000) >> 10)));
            result.push_back(static_cast<Unit>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            result.push_back(static_cast<Unit>(0xFFFD));
        }
    }
    return result;
}

template <class Unit>
tstring fromUtf16(const std::basic_string<Unit>& units) {
    static_assert(sizeof(Unit) == 2, "UTF-16 code units");
    tstring result;
    result.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t unit = static_cast<std::uint16_t>(units[i]);
        const bool pair = sizeof(wchar_t) != sizeof(Unit) && unit >= 0xD800 && unit <= 0xDBFF &&
                          i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (pair) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        result.push_back(static_cast<wchar_t>(unit));
    }
    return result;
}
// Narrow text in the system's ANSI code page on Windows, in the locale's encoding elsewhere.
std::string toAnsi(const tstring& text);

tstring toLower(const tstring& text);
bool equals(const tstring& a, const tstring& b, int mode = Exact);
bool startsWith(const tstring& text, const tstring& prefix, int mode = Exact);
bool endsWith(const tstring& text, const tstring& suffix, int mode = Exact);
tstring replace(const tstring& text, const tstring& search, const tstring& replacement);
tstring_array split(const tstring& text, const tstring& delimiter);

// printf-style formatting of wide text; use "%ls" for wide text arguments, which means the same
// on every platform's C library.
tstring format(const wchar_t* formatText, ...);

// The wide text stream in which every log and error message is put together.
class TextBuilder {
public:
    TextBuilder() = default;
    // Decodes UTF-8, unlike the insertion of narrow text, which widens byte by byte.
    explicit TextBuilder(const char* utf8);
    explicit TextBuilder(const std::string& utf8);

    TextBuilder& operator<<(const char* text);
    TextBuilder& operator<<(const std::string& text);
    TextBuilder& operator<<(const wchar_t* text);
    TextBuilder& operator<<(const tstring& text);
    TextBuilder& operator<<(wchar_t ch);
    TextBuilder& operator<<(char ch);
    TextBuilder& operator<<(int value);
    TextBuilder& operator<<(unsigned value);
    TextBuilder& operator<<(long value);
    TextBuilder& operator<<(unsigned long value);
    TextBuilder& operator<<(long long value);
    TextBuilder& operator<<(unsigned long long value);
    // 16 upper-case hexadecimal digits, as "%p" writes an address on Windows.
    TextBuilder& operator<<(const void* address);

    tstring text() const { return content; }
    std::string utf8() const { return toUtf8(content); }

private:
    tstring content;
};

} // namespace tstrings

#endif
