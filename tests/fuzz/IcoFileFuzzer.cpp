// Feeds arbitrary bytes to the .ico reader: it must refuse with its own error or return
// images that lie inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ErrorHandling.h"
#include "IcoFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file(data, data + size);
    try {
        std::size_t total = 0;
        for (const IconImage& image : parseIcoFile(file, L"fuzz.ico")) {
            total += image.data.size();
        }
        if (total == 0 || total > size * 65535) {
            std::fprintf(stderr, "Broken: images of %zu bytes\n", total);
            std::abort();
        }
    } catch (const VtError<std::runtime_error>& error) {
        if (std::string(error.bareMessage()).rfind("Invalid icon file \"fuzz.ico\": ", 0) != 0) {
            std::abort();
        }
    }
    return 0;
}
