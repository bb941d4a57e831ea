// Linux packages update through the system's package manager: the launcher does no update
// check here, and nothing below is ever asked for by a start.
#include "ErrorHandling.h"
#include "UpdatePlatform.h"

namespace UpdatePlatform {

namespace {

[[noreturn]] void raiseNotHere() {
    VT_RAISE("the launcher looks for updates only on Windows");
}

} // namespace

bool supported() {
    return false;
}

std::string httpGet(const tstring&, const HttpLimits&, const tstring&) {
    raiseNotHere();
}

std::string sha256(const std::string&) {
    raiseNotHere();
}

std::string sha256OfFile(const tstring&) {
    raiseNotHere();
}

bool verifySignature(const std::string&, const std::string&, const std::string&) {
    raiseNotHere();
}

bool canAsk() {
    return false;
}

bool ask(const tstring&, const tstring&) {
    return false;
}

void waitForProcess(std::uint64_t) {
    raiseNotHere();
}

std::uint32_t runInstaller(const tstring&) {
    raiseNotHere();
}

} // namespace UpdatePlatform
