#include "UpdateMetadata.h"

#include <cstdlib>
#include <vector>

#include "ErrorHandling.h"

namespace UpdateMetadata {

const char* const formatName = "vantrel-update-1";

namespace {

const char* const keys[] = {"format",    "name", "type", "version", "order",    "sequence",
                            "published", "url",  "size", "sha256",  "signature"};
const std::size_t keyCount = sizeof(keys) / sizeof(keys[0]);
const std::size_t scalarSize = 32; // of r and of s for P-256

std::string line(const char* key, const std::string& value) {
    return std::string(key) + "=" + value + "\n";
}

std::string utf8(const tstring& text) {
    return tstrings::toUtf8(text);
}

[[noreturn]] void raiseInvalid(const tstring& file, const std::string& what) {
    VT_RAISE(tstrings::TextBuilder()
             << file << L" is no update metadata: " << tstrings::fromUtf8(what));
}

// Decimal digits only, no sign, within 64 bits.
bool readNumber(const std::string& text, std::uint64_t& number) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// One DER INTEGER at pos, as a 32-byte big-endian number; false when it is none or too big.
bool readScalar(const std::string& der, std::size_t& pos, std::string& scalar) {
    if (pos + 2 > der.size() || der[pos] != 0x02) {
        return false;
    }
    std::size_t length = static_cast<unsigned char>(der[pos + 1]);
    pos += 2;
    if (length == 0 || length > scalarSize + 1 || pos + length > der.size()) {
        return false;
    }
    std::string value = der.substr(pos, length);
    pos += length;
    while (value.size() > 1 && value[0] == '\0') {
        value.erase(0, 1);
    }
    if (value.size() > scalarSize) {
        return false;
    }
    scalar = std::string(scalarSize - value.size(), '\0') + value;
    return true;
}

// A positive DER INTEGER of a big-endian number.
std::string derInteger(std::string value) {
    while (value.size() > 1 && value[0] == '\0' && !(value[1] & 0x80)) {
        value.erase(0, 1);
    }
    if (value[0] & 0x80) {
        value.insert(0, 1, '\0');
    }
    return std::string(1, 0x02) + static_cast<char>(value.size()) + value;
}

} // namespace

std::string signedPart(const Document& document) {
    return line("format", formatName) + line("name", utf8(document.name)) +
           line("type", utf8(document.type)) + line("version", utf8(document.version)) +
           line("order", utf8(document.order)) +
           line("sequence", std::to_string(document.sequence)) +
           line("published", std::to_string(document.published)) + line("url", utf8(document.url)) +
           line("size", std::to_string(document.size)) + line("sha256", document.sha256);
}

std::string withSignature(const std::string& signedPart, const std::string& rawSignature) {
    return signedPart + line("signature", hex(rawSignature));
}

Signed parse(const std::string& text, const tstring& file) {
    std::vector<std::string> values;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < keyCount; ++i) {
        const std::string key = std::string(keys[i]) + "=";
        const std::size_t end = text.find('\n', pos);
        if (text.compare(pos, key.size(), key) != 0 || end == std::string::npos) {
            raiseInvalid(file, "no line " + key);
        }
        values.push_back(text.substr(pos + key.size(), end - pos - key.size()));
        pos = end + 1;
    }
    Signed result;
    Document& document = result.document;
    std::uint64_t published = 0;
    if (values[0] != formatName || pos != text.size() ||
        !readNumber(values[5], document.sequence) || !readNumber(values[6], published) ||
        !readNumber(values[8], document.size)) {
        raiseInvalid(file, "not of the format " + std::string(formatName));
    }
    document.name = tstrings::fromUtf8(values[1]);
    document.type = tstrings::fromUtf8(values[2]);
    document.version = tstrings::fromUtf8(values[3]);
    document.order = tstrings::fromUtf8(values[4]);
    document.published = static_cast<std::int64_t>(published);
    document.url = tstrings::fromUtf8(values[7]);
    document.sha256 = values[9];
    result.rawSignature = unhex(values[10]);
    if (result.rawSignature.size() != 2 * scalarSize) {
        raiseInvalid(file, "its signature is not 128 hex digits");
    }
    result.signedPart = text.substr(0, text.rfind("signature="));
    return result;
}

tstring orderText(const VersionOrder& order) {
    return tstrings::format(L"%lu.%lu.%lu.%lu", order[0], order[1], order[2], order[3]);
}

bool parseOrder(const tstring& text, VersionOrder& order) {
    const tstring_array parts = tstrings::split(text, L".");
    if (parts.size() != order.size()) {
        return false;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].empty() || parts[i].size() > 9 ||
            parts[i].find_first_not_of(L"0123456789") != tstring::npos) {
            return false;
        }
        order[i] = std::wcstoul(parts[i].c_str(), nullptr, 10);
    }
    return true;
}

std::string derToRaw(const std::string& der) {
    std::string r;
    std::string s;
    std::size_t pos = 2;
    const bool valid = der.size() >= 2 && der[0] == 0x30 &&
                       static_cast<unsigned char>(der[1]) + 2u == der.size() &&
                       readScalar(der, pos, r) && readScalar(der, pos, s) && pos == der.size();
    if (!valid) {
        VT_RAISE("openssl wrote no ECDSA P-256 signature");
    }
    return r + s;
}

std::string rawToDer(const std::string& raw) {
    const std::string body =
        derInteger(raw.substr(0, scalarSize)) + derInteger(raw.substr(scalarSize, scalarSize));
    return std::string(1, 0x30) + static_cast<char>(body.size()) + body;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

std::string unhex(const std::string& text) {
    if (text.size() % 2 != 0 || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return std::string();
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

} // namespace UpdateMetadata
