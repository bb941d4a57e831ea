// Arbitrary bytes as a jar on the class path: refused with the reader's own error, or read.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ErrorHandling.h"
#include "JarManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/vantrel-fuzz-" + std::to_string(getpid()) + ".jar";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort();
    }
    try {
        JarManifest::classPathOf(L"/app", JarManifest::read(tstrings::fromUtf8(path)));
    } catch (const VtError<std::runtime_error>& error) {
        if (std::string(error.bareMessage()) != "not a jar file: " + path) {
            std::abort();
        }
    }
    std::remove(path.c_str());
    return 0;
}
