// Feeds arbitrary bytes to the PE reader; what it accepts must survive a rewrite with more
// resources and read back to exactly the resources written.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ErrorHandling.h"
#include "PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResourceTree tree;
    Bytes stamped;
    try {
        const PeImage image(Bytes(data, data + size), L"fuzz.exe");
        tree = image.resources();
        tree[ResourceType::version][1][0].bytes.assign(size % 5000, 0x5A);
        stamped = image.withResources(tree);
    } catch (const VtError<std::runtime_error>& error) {
        if (std::string(error.bareMessage()).rfind("Cannot stamp \"fuzz.exe\": ", 0) != 0) {
            std::abort();
        }
        return 0;
    }
    const PeImage reread(stamped, L"fuzz.exe");
    if (!(reread.resources() == tree) || reread.withResources(tree) != stamped) {
        std::abort();
    }
    return 0;
}
