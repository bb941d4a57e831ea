// Arbitrary bytes as a release site's update metadata: refused with the reader's own error, or
// read into a document that the launcher's decision takes without failing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ErrorHandling.h"
#include "UpdateCheck.h"
#include "UpdateMetadata.h"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    UpdateMetadata::Signed read;
    try {
        read = UpdateMetadata::parse(text, L"update-msi.txt");
    } catch (const VtError<std::runtime_error>& error) {
        require(
            std::string(error.bareMessage()).rfind("update-msi.txt is no update metadata: ", 0) ==
            0);
        return 0;
    }
    // What is signed is the text before its signature line, and the signature is r||s.
    require(text.compare(0, read.signedPart.size(), read.signedPart) == 0);
    require(read.rawSignature.size() == 64);
    UpdateCheck::Settings settings;
    settings.metadata = L"windows/App/update-msi.txt";
    settings.version = L"1.0";
    settings.order = {1, 0, 0, 0};
    UpdateCache::State state;
    state.sequence = 2;
    UpdateCheck::refusal(read.document, settings, state);
    return 0;
}
