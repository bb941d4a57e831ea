#include "tstrings.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <stdexcept>

#include "ErrorHandling.h"

namespace tstrings {
namespace {} // namespace

std::string toUtf8(const tstring& text) {
    return toMultiByte(text, CodePage::Utf8);
}

tstring fromUtf8(const std::string& text) {
    return fromMultiByte(text, CodePage::Utf8);
}

std::string toAnsi(const tstring& text) {
    return toMultiByte(text, CodePage::Ansi);
}

tstring toLower(const tstring& text) {
    tstring result(text);
    for (wchar_t& c : result) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return result;
}

bool equals(const tstring& a, const tstring& b, int mode) {
    if (mode == IgnoreCase) {
        return toLower(a) == toLower(b);
    }
    return a == b;
}

bool startsWith(const tstring& text, const tstring& prefix, int mode) {
    if (text.size() < prefix.size()) {
        return false;
    }
    return equals(text.substr(0, prefix.size()), prefix, mode);
}

bool endsWith(const tstring& text, const tstring& suffix, int mode) {
    if (text.size() < suffix.size()) {
        return false;
    }
    return equals(text.substr(text.size() - suffix.size()), suffix, mode);
}

tstring replace(const tstring& text, const tstring& search, const tstring& replacement) {
    if (search.empty()) {
        return text;
    }
    // Built afresh rather than replaced in place, which would move the tail every time.
    tstring result;
    std::size_t start = 0;
    for (std::size_t pos = text.find(search); pos != tstring::npos;
         pos = text.find(search, start)) {
        result.append(text, start, pos - start).append(replacement);
        start = pos + search.size();
    }
    return result.append(text, start, tstring::npos);
}

tstring_array split(const tstring& text, const tstring& delimiter) {
    tstring_array pieces;
    if (text.empty() || delimiter.empty()) {
        return pieces;
    }
    std::size_t start = 0;
    for (std::size_t pos = text.find(delimiter); pos != tstring::npos;
         pos = text.find(delimiter, start)) {
        pieces.push_back(text.substr(start, pos - start));
        start = pos + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

tstring format(const wchar_t* formatText, ...) {
    if (formatText == nullptr) {
        throw std::invalid_argument("Destination buffer can't be NULL");
    }
    // The C library reports truncation and bad input alike; a bound keeps bad input from
    // growing the buffer forever.
    const std::size_t maxLength = 1 << 20;
    tstring result;
    while (result.size() < maxLength) {
        result.resize(result.size() + 256, L'\0');
        va_list args;
        va_start(args, formatText);
        const int written = std::vswprintf(&result[0], result.size(), formatText, args);
        va_end(args);
        if (written >= 0 && static_cast<std::size_t>(written) < result.size()) {
            result.resize(static_cast<std::size_t>(written));
            return result;
        }
    }
    throw std::length_error("Formatted text too long or malformed");
}

TextBuilder::TextBuilder(const char* utf8) : content(fromUtf8(utf8 ? utf8 : "")) {}

TextBuilder::TextBuilder(const std::string& utf8) : content(fromUtf8(utf8)) {}

TextBuilder& TextBuilder::operator<<(const char* text) {
    for (const char* p = text; p && *p; ++p) {
        content += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return *this;
}

TextBuilder& TextBuilder::operator<<(const std::string& text) {
    return *this << text.c_str();
}

TextBuilder& TextBuilder::operator<<(const wchar_t* text) {
    if (text) {
        content += text;
    }
    return *this;
}

TextBuilder& TextBuilder::operator<<(const tstring& text) {
    content += text;
    return *this;
}

TextBuilder& TextBuilder::operator<<(wchar_t ch) {
    content += ch;
    return *this;
}

TextBuilder& TextBuilder::operator<<(char ch) {
    content += static_cast<wchar_t>(static_cast<unsigned char>(ch));
    return *this;
}

TextBuilder& TextBuilder::operator<<(int value) {
    return *this << static_cast<long long>(value);
}

TextBuilder& TextBuilder::operator<<(unsigned value) {
    return *this << static_cast<unsigned long long>(value);
}

TextBuilder& TextBuilder::operator<<(long value) {
    return *this << static_cast<long long>(value);
}

TextBuilder& TextBuilder::operator<<(unsigned long value) {
    return *this << static_cast<unsigned long long>(value);
}

TextBuilder& TextBuilder::operator<<(long long value) {
    content += std::to_wstring(value);
    return *this;
}

TextBuilder& TextBuilder::operator<<(unsigned long long value) {
    content += std::to_wstring(value);
    return *this;
}

TextBuilder& TextBuilder::operator<<(const void* address) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    unsigned long long value = reinterpret_cast<std::uintptr_t>(address);
    wchar_t text[16];
    for (int i = 15; i >= 0; --i, value >>= 4) {
        text[i] = digits[value & 0xF];
    }
    content.append(text, 16);
    return *this;
}

} // namespace tstrings
