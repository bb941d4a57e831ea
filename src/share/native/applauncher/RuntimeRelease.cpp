#include "RuntimeRelease.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "FileUtils.h"

namespace RuntimeRelease {

std::string read(const tstring& runtimeDir) {
    const UniqueFile file = openSharedForReading(FileUtils::joinPath(runtimeDir, L"release"));
    std::string text;
    char chunk[4096];
    // The file is small; a huge one is no runtime's.
    while (file && text.size() < (1u << 20)) {
        const std::size_t count = std::fread(chunk, 1, sizeof(chunk), file.get());
        text.append(chunk, count);
        if (count < sizeof(chunk)) {
            break;
        }
    }
    return text;
}

std::string property(const std::string& releaseText, const std::string& name) {
    const std::string prefix = name + "=";
    size_t start = 0;
    while (start < releaseText.size()) {
        size_t end = releaseText.find('\n', start);
        end = end == std::string::npos ? releaseText.size() : end;
        if (releaseText.compare(start, prefix.size(), prefix) == 0) {
            std::string value =
                releaseText.substr(start + prefix.size(), end - start - prefix.size());
            value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
            value.erase(std::remove(value.begin(), value.end(), '\r'), value.end());
            return value;
        }
        start = end + 1;
    }
    return std::string();
}

int featureVersion(const std::string& releaseText) {
    std::string value = property(releaseText, "JAVA_VERSION");
    // "1.8.0_292" is Java 8; from Java 9 on the feature version comes first.
    if (value.compare(0, 2, "1.") == 0) {
        value.erase(0, 2);
    }
    const size_t digits = value.find_first_not_of("0123456789");
    const std::string number = value.substr(0, digits);
    return number.empty() || number.size() > 4 ? 0 : std::atoi(number.c_str());
}

} // namespace RuntimeRelease
