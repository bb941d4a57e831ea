// Feeds arbitrary bytes to the .ico reader: it refuses with its own error or returns images.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ErrorHandling.h"
#include "IcoFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        for (const IconImage& image : parseIcoFile(Bytes(data, data + size), L"fuzz.ico")) {
            if (image.data.empty() || image.data.size() > size) {
                std::abort();
            }
        }
    } catch (const VtError<std::runtime_error>& error) {
        if (std::string(error.bareMessage()).rfind("Invalid icon file \"fuzz.ico\": ", 0) != 0) {
            std::abort();
        }
    }
    return 0;
}
