#ifndef VANTREL_UPDATEPLATFORM_H
#define VANTREL_UPDATEPLATFORM_H

#include <cstdint>
#include <string>

#include "tstrings.h"

// What the launcher's update check needs of the system: a bounded download, the hash and
// signature checks, a question to the user, and the installer. Declared once, implemented per
// platform; where a platform has no such updates, every call but supported() raises.
namespace UpdatePlatform {

// False where packages update through the system's own tools (apt on Linux).
bool supported();

struct HttpLimits {
    std::uint64_t maxBytes = 0; // a longer body is refused
    unsigned receiveMs = 0;     // for the server's answer and for each read
    unsigned totalMs = 0;       // for the whole transfer
};
// The body of a 200 answer to GET url, into the file when one is named (and then returned
// empty). Redirects are followed a few times, only to the url's own scheme. Raises on anything
// else, naming what it was.
std::string httpGet(const tstring& url, const HttpLimits& limits, const tstring& file);

// Raw bytes.
std::string sha256(const std::string& data);
std::string sha256OfFile(const tstring& path);
// ECDSA P-256 over SHA-256 of data: publicKey is X||Y, signature r||s, 32 bytes each.
bool verifySignature(const std::string& publicKey, const std::string& data,
                     const std::string& signature);

// A windowed process may ask its user; a console one never does.
bool canAsk();
// A yes/no question; false when it couldn't be asked.
bool ask(const tstring& title, const tstring& text);

// Returns once the process has ended (at once when it has already).
void waitForProcess(std::uint64_t processId);
// Runs the package's installer with a progress bar and no questions; its exit code.
std::uint32_t runInstaller(const tstring& package);

} // namespace UpdatePlatform

#endif
