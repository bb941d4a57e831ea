#include "tstrings.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <stdexcept>

#include "ErrorHandling.h"

#ifdef _WIN32
#include "WinApi.h"
#endif

namespace tstrings {
namespace {

// ---- Platform part: the code-page conversions ------------------------------------------------
#ifdef _WIN32

const unsigned utf8CodePage = CP_UTF8;
const unsigned ansiCodePage = CP_ACP;

int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw std::length_error("Text too long to convert");
    }
    return static_cast<int>(size);
}

std::string toMultiByte(const tstring& text, unsigned codePage) {
    const int length = checkedLength(text.size());
    const int needed =
        WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed < 0) {
        VT_RAISE("Unexpected reply from WideCharToMultiByte()");
    }
    if (needed == 0) {
        return std::string();
    }
    std::string result(static_cast<std::size_t>(needed), '\0');
    if (needed != WideCharToMultiByte(codePage, 0, text.data(), length, &result[0], needed,
                                      nullptr, nullptr)) {
        VT_RAISE("Unexpected reply from WideCharToMultiByte()");
    }
    return result;
}

tstring fromMultiByte(const std::string& text, unsigned codePage) {
    const int length = checkedLength(text.size());
    const int needed =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed < 0) {
        VT_RAISE("Unexpected reply from MultiByteToWideChar()");
    }
    if (needed == 0) {
        return tstring();
    }
    tstring result(static_cast<std::size_t>(needed), L'\0');
    if (needed !=
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, &result[0], needed)) {
        VT_RAISE("Unexpected reply from MultiByteToWideChar()");
    }
    return result;
}

#else

// A strict UTF-8 codec with the observable rules of the Windows conversion: invalid input
// decodes to empty text, and code points that can't be encoded become U+FFFD.
const unsigned utf8CodePage = 65001;
// Arguments travel in the locale's encoding; the launcher reads them as UTF-8, so UTF-8 hands
// them back unchanged.
const unsigned ansiCodePage = 65001;

const char32_t replacementCharacter = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void appendUtf8(std::string& out, char32_t c) {
    if (isSurrogate(c) || c > 0x10FFFF) {
        c = replacementCharacter;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string toMultiByte(const tstring& text, unsigned) {
    std::string result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        appendUtf8(result, static_cast<char32_t>(c));
    }
    return result;
}

// Decodes one sequence at pos; returns false for anything that is not well-formed UTF-8
// (overlong forms, surrogates, values above U+10FFFF, truncated sequences).
bool decodeUtf8(const std::string& text, std::size_t& pos, char32_t& out) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    std::size_t extra;
    char32_t minimum;
    if (lead < 0x80) {
        out = lead;
        ++pos;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, minimum = 0x80, out = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, minimum = 0x800, out = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, minimum = 0x10000, out = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - pos <= extra) {
        return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[pos + k]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        out = (out << 6) | (next & 0x3F);
    }
    if (out < minimum || out > 0x10FFFF || isSurrogate(out)) {
        return false;
    }
    pos += extra + 1;
    return true;
}

tstring fromMultiByte(const std::string& text, unsigned) {
    tstring result;
    result.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t c;
        if (!decodeUtf8(text, pos, c)) {
            return tstring();
        }
        result += static_cast<wchar_t>(c);
    }
    return result;
}

#endif
// ---- End of the platform part ----------------------------------------------------------------

} // namespace

std::string toUtf8(const tstring& text) { return toMultiByte(text, utf8CodePage); }

tstring fromUtf8(const std::string& text) { return fromMultiByte(text, utf8CodePage); }

std::string toAnsi(const tstring& text) { return toMultiByte(text, ansiCodePage); }

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

TextBuilder& TextBuilder::operator<<(const std::string& text) { return *this << text.c_str(); }

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

TextBuilder& TextBuilder::operator<<(int value) { return *this << static_cast<long long>(value); }

TextBuilder& TextBuilder::operator<<(unsigned value) {
    return *this << static_cast<unsigned long long>(value);
}

TextBuilder& TextBuilder::operator<<(long value) { return *this << static_cast<long long>(value); }

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
