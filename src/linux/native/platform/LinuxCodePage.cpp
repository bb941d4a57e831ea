// Text to and from UTF-8, the encoding of every text the launcher meets here.
#include <string>

#include "tstrings.h"

namespace tstrings {
namespace {

// A strict UTF-8 codec with the observable rules of the Windows conversion: invalid input
// decodes to empty text, and code points that can't be encoded become U+FFFD.

const char32_t replacementCharacter = 0xFFFD;

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

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

} // namespace

// Arguments travel in the locale's encoding; the launcher reads them as UTF-8, so UTF-8 hands
// them back unchanged: every code page is UTF-8 here.
std::string toMultiByte(const tstring& text, CodePage) {
    std::string result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        appendUtf8(result, static_cast<char32_t>(c));
    }
    return result;
}

tstring fromMultiByte(const std::string& text, CodePage) {
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

} // namespace tstrings
