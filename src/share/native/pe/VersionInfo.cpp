#include "VersionInfo.h"

#include "ErrorHandling.h"

namespace {

const std::uint16_t usEnglish = 0x0409;
const std::uint16_t unicodeCodePage = 1200;

[[noreturn]] void refuseVersion(const tstring& text, const char* reason) {
    VT_RAISE(tstrings::TextBuilder() << "Invalid version \"" << text << "\": " << reason);
}

// One node of the version tree: wLength, wValueLength, wType, the key, then the value and
// the children, each starting on a 4-byte boundary.
class VersionNode {
public:
    VersionNode(const char16_t* key, bool isText) {
        append16(bytes, 0);
        append16(bytes, 0);
        append16(bytes, isText ? 1 : 0);
        appendText(key);
        padTo(bytes, 4);
    }

    VersionNode& binaryValue(const Bytes& value) {
        put16(bytes, 2, static_cast<std::uint16_t>(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
        return *this;
    }

    // Its length counts characters, the terminating zero included.
    VersionNode& textValue(const std::u16string& value) {
        put16(bytes, 2, static_cast<std::uint16_t>(value.size() + 1));
        appendText(value);
        return *this;
    }

    VersionNode& child(VersionNode node) {
        padTo(bytes, 4);
        const Bytes childBytes = node.finish();
        bytes.insert(bytes.end(), childBytes.begin(), childBytes.end());
        return *this;
    }

    Bytes finish() {
        if (bytes.size() > 0xFFFF) {
            VT_RAISE("The version information exceeds 65535 bytes");
        }
        put16(bytes, 0, static_cast<std::uint16_t>(bytes.size()));
        return bytes;
    }

private:
    void appendText(const std::u16string& text) {
        for (char16_t c : text) {
            append16(bytes, c);
        }
        append16(bytes, 0);
    }

    Bytes bytes;
};

Bytes fixedFileInfo(const VersionNumber& v) {
    const std::uint32_t high = std::uint32_t(v[0]) << 16 | v[1];
    const std::uint32_t low = std::uint32_t(v[2]) << 16 | v[3];
    Bytes info;
    for (std::uint32_t field : {0xFEEF04BDu, 0x00010000u, high, low, high, low,
                                0x3Fu,             // every flag is meaningful
                                0u,                // none set: a release build
                                0x00040004u,       // VOS_NT_WINDOWS32
                                1u, 0u, 0u, 0u}) { // VFT_APP, no subtype, no date
        append32(info, field);
    }
    return info;
}

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Where the qualifier of a build tool's version begins ("-SNAPSHOT", "-rc.1", ".Final", "b7"):
// at the first character after the numbers that does not lead to one more number.
std::size_t qualifierStart(const tstring& text) {
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t next = end;
        while (next < text.size() && isDigit(text[next])) {
            ++next;
        }
        if (next == end) {
            break;
        }
        end = next;
        if (end + 1 >= text.size() || text[end] != L'.' || !isDigit(text[end + 1])) {
            break;
        }
        ++end;
    }
    return end;
}

} // namespace

VersionNumber parseVersionNumber(const tstring& text) {
    const char* const shape = "expected A[.B[.C[.D]]], then any qualifier";
    VersionNumber version{0, 0, 0, 0};
    const std::size_t qualifier = qualifierStart(text);
    const tstring_array parts = tstrings::split(text.substr(0, qualifier), L".");
    // A qualifier starts with neither a digit nor a dot, or with a dot and a letter or sign.
    const tstring rest = text.substr(qualifier);
    if (qualifier == 0 || parts.size() > version.size() ||
        (!rest.empty() && rest[0] == L'.' && (rest.size() == 1 || rest[1] == L'.'))) {
        refuseVersion(text, shape);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::uint32_t value = 0;
        for (wchar_t c : parts[i]) {
            value = value * 10 + static_cast<std::uint32_t>(c - L'0');
            if (value > 0xFFFF) {
                refuseVersion(text, "a part exceeds 65535");
            }
        }
        version[i] = static_cast<std::uint16_t>(value);
    }
    return version;
}

Bytes buildVersionInfo(const VersionNumber& version,
                       const std::vector<std::pair<tstring, tstring>>& strings) {
    VersionNode table(u"040904B0", true);
    for (const auto& entry : strings) {
        table.child(
            VersionNode(toUtf16(entry.first).c_str(), true).textValue(toUtf16(entry.second)));
    }
    Bytes translation;
    append16(translation, usEnglish);
    append16(translation, unicodeCodePage);
    VersionNode root(u"VS_VERSION_INFO", false);
    root.binaryValue(fixedFileInfo(version))
        .child(VersionNode(u"StringFileInfo", true).child(std::move(table)))
        .child(VersionNode(u"VarFileInfo", true)
                   .child(VersionNode(u"Translation", false).binaryValue(translation)));
    return root.finish();
}
