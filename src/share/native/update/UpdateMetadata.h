#ifndef VANTREL_UPDATEMETADATA_H
#define VANTREL_UPDATEMETADATA_H

#include <array>
#include <cstdint>
#include <string>

#include "tstrings.h"

// The signed document that tells a Windows updater the newest version of one application: UTF-8
// lines "key=value" in a fixed order, the last one "signature=" with the ECDSA P-256 signature
// of every byte before it (SHA-256), as 128 hex digits of r||s, which CNG verifies as it is.
namespace UpdateMetadata {

extern const char* const formatName;

struct Document {
    tstring name;
    tstring type;    // msi or zip
    tstring version; // as --app-version gave it
    tstring order;   // A.B.C.D: what versions compare by
    std::uint64_t sequence = 0;
    std::int64_t published = 0; // seconds since 1970, never going back
    tstring url;                // relative to the site, percent-encoded
    std::uint64_t size = 0;
    std::string sha256; // lower-case hex
};

// The bytes that are signed: every line but the signature's.
std::string signedPart(const Document& document);
std::string withSignature(const std::string& signedPart, const std::string& rawSignature);

struct Signed {
    Document document;
    std::string signedPart;
    std::string rawSignature; // r||s, 64 bytes
};
// Raises, naming file, on anything but a document of this format.
Signed parse(const std::string& text, const tstring& file);

// The four numbers that versions compare by (A.B.C, what Windows Installer compares, then D).
typedef std::array<unsigned long, 4> VersionOrder;
tstring orderText(const VersionOrder& order);
// The numbers of orderText's "A.B.C.D"; false on any other text.
bool parseOrder(const tstring& text, VersionOrder& order);

// openssl writes an ECDSA signature as DER; CNG takes r and s as two 32-byte numbers.
std::string derToRaw(const std::string& der);
std::string rawToDer(const std::string& raw);

std::string hex(const std::string& bytes);
// Empty when text is not lower-case hex of an even length.
std::string unhex(const std::string& text);

} // namespace UpdateMetadata

#endif
