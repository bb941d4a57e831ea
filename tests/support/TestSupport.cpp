#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "FileUtils.h"
#include "SysInfo.h"

namespace fs = std::filesystem;

namespace testsupport {
namespace {

// std::filesystem takes wide text natively on Windows; elsewhere hand it UTF-8.
fs::path fsPath(const tstring& path) {
#ifdef _WIN32
    return fs::path(path);
#else
    return fs::path(tstrings::toUtf8(path));
#endif
}

tstring fromFsPath(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return tstrings::fromUtf8(path.string());
#endif
}

} // namespace

std::vector<tstring> LogRecorder::lines() const {
    std::vector<tstring> result;
    for (const LogEvent& event : events) {
        result.push_back(event.level + L": " + event.message);
    }
    return result;
}

std::vector<LogEvent> LogRecorder::at(const tstring& level) const {
    std::vector<LogEvent> result;
    for (const LogEvent& event : events) {
        if (event.level == level) {
            result.push_back(event);
        }
    }
    return result;
}

tstring_array LogRecorder::messages(const tstring& level, const tstring& prefix) const {
    tstring_array result;
    for (const LogEvent& event : events) {
        if ((level.empty() || event.level == level) &&
            event.message.compare(0, prefix.size(), prefix) == 0) {
            result.push_back(event.message);
        }
    }
    return result;
}

std::string withUnixLineEnds(std::string text) {
    for (std::size_t pos; (pos = text.find("\r\n")) != std::string::npos;) {
        text.erase(pos, 1);
    }
    return text;
}

tstring binaryDir() { return FileUtils::parentPath(SysInfo::getExecutablePath()); }

tstring fixturePath(const tstring& baseName) {
#ifdef _WIN32
    return FileUtils::joinPath(binaryDir(), baseName + L".exe");
#else
    return FileUtils::joinPath(binaryDir(), baseName);
#endif
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path path = fs::temp_directory_path() /
                          ("vantrel-test-" + std::to_string(stamp) + "-" +
                           std::to_string(counter++));
    fs::create_directories(path);
    dir = fromFsPath(path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(fsPath(dir), ignored);
}

void writeFile(const tstring& path, const std::string& bytes) {
    std::ofstream stream(fsPath(path), std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream) {
        throw std::runtime_error("Can't write " + tstrings::toUtf8(path));
    }
}

std::string readFile(const tstring& path) {
    std::ifstream stream(fsPath(path), std::ios::binary);
    if (!stream) {
        throw std::runtime_error("Can't read " + tstrings::toUtf8(path));
    }
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void makeDirectories(const tstring& path) { fs::create_directories(fsPath(path)); }

} // namespace testsupport
