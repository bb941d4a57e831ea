#include "UpdateCache.h"

#include <algorithm>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "UserCache.h"

namespace UpdateCache {

namespace {

// Nothing that belongs here is bigger; a larger file is not read.
const std::uint64_t maxReadBytes = 64 * 1024;

const wchar_t* const stateName = L"state";
const wchar_t* const lockName = L"lock";
const wchar_t* const readyName = L"ready.txt";
const wchar_t* const packageName = L"update.msi";
const wchar_t* const installerName = L"installer.exe";
const wchar_t* const traceName = L"trace.log";

bool readNumber(const std::string& text, std::uint64_t& number) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::stoull(text);
    return true;
}

} // namespace

tstring Folder::file(const wchar_t* name) const {
    return FileUtils::joinPath(dir, name);
}

tstring Folder::state() const {
    return file(stateName);
}

tstring Folder::lock() const {
    return file(lockName);
}

tstring Folder::ready() const {
    return file(readyName);
}

tstring Folder::package() const {
    return file(packageName);
}

tstring Folder::downloading() const {
    return file(L"update.msi.part");
}

tstring Folder::installer() const {
    return file(installerName);
}

tstring Folder::trace() const {
    return file(traceName);
}

State Folder::readState() const {
    State result;
    const std::string text = readFile(state());
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        std::uint64_t number = 0;
        if (key == "checked" && readNumber(value, number)) {
            result.checked = static_cast<std::int64_t>(number);
        } else if (key == "sequence" && readNumber(value, number)) {
            result.sequence = number;
        } else if (key == "asked") {
            result.asked = tstrings::fromUtf8(value);
        }
    }
    return result;
}

void Folder::writeState(const State& value) const {
    writeFile(state(), "checked=" + std::to_string(value.checked) +
                           "\nsequence=" + std::to_string(value.sequence) +
                           "\nasked=" + tstrings::toUtf8(value.asked) + "\n");
}

bool Folder::readReady(UpdateMetadata::Document& document) const {
    const std::string text = readFile(ready());
    if (text.empty()) {
        return false;
    }
    try {
        document = UpdateMetadata::parse(text, ready()).document;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void Folder::writeReady(const std::string& text) const {
    writeFile(ready(), text);
}

void Folder::dropReady() const {
    UserCache::removeFile(ready());
    UserCache::removeFile(package());
}

void Folder::tidy() const {
    // A package without its document is no longer ready; the installer's copy, when it still
    // runs, can't be removed and stays.
    const bool ready = FileUtils::pathExists(this->ready());
    for (const tstring& name : UserCache::listDirectory(dir)) {
        const bool kept = name == stateName || name == lockName || name == traceName ||
                          (ready && (name == readyName || name == packageName));
        if (!kept) {
            UserCache::removeFile(file(name.c_str()));
        }
    }
}

std::string readFile(const tstring& path) {
    std::string bytes;
    if (!UserCache::readFile(path, maxReadBytes, bytes)) {
        bytes.clear();
    }
    return bytes;
}

void writeFile(const tstring& path, const std::string& bytes) {
    const tstring temporary = path + L".tmp";
    if (!UserCache::writeFile(temporary, bytes, false)) {
        VT_RAISE(tstrings::TextBuilder() << L"can't write " << temporary);
    }
    if (!UserCache::replaceFile(temporary, path)) {
        UserCache::removeFile(temporary);
        VT_RAISE(tstrings::TextBuilder() << L"can't replace " << path);
    }
}

} // namespace UpdateCache
