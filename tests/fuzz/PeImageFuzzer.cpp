// Feeds arbitrary bytes to the PE reader; what it accepts must survive a rewrite with more
// resources and read back to exactly the resources written.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ErrorHandling.h"
#include "PeImage.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "Broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResourceTree tree;
    Bytes stamped;
    try {
        const PeImage image(Bytes(data, data + size), L"fuzz.exe");
        tree = image.resources();
        tree[ResourceType::version][1][0] = ResourceData{Bytes(size % 5000, 0x5A), 0};
        stamped = image.withResources(tree);
    } catch (const VtError<std::runtime_error>& error) {
        require(std::string(error.bareMessage()).rfind("Cannot stamp \"fuzz.exe\": ", 0) == 0,
                "error text");
        return 0;
    }
    const PeImage reread(stamped, L"fuzz.exe");
    require(reread.resources() == tree, "resources read back differ");
    require(reread.withResources(tree) == stamped, "a second rewrite differs");
    return 0;
}
