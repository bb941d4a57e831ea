#include "LauncherStamp.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "IcoFile.h"
#include "PeImage.h"
#include "VersionInfo.h"

namespace fs = std::filesystem;

namespace {

const std::uint16_t appIconGroup = 1;
const std::uint16_t versionId = 1;
const std::uint16_t neutralLanguage = 0;
const std::size_t groupHeaderSize = 6;
const std::size_t groupEntrySize = 14;

// std::filesystem takes UTF-8 here on every platform.
fs::path fsPath(const tstring& path) {
    return fs::u8path(tstrings::toUtf8(path));
}

[[noreturn]] void raiseFileError(const char* action, const tstring& path) {
    const std::string reason = lastCrtErrorText();
    VT_RAISE(tstrings::TextBuilder() << "Error " << action << " \"" << path << "\" file"
                                     << (reason.empty() ? "" : ": ") << reason);
}

Bytes readBinaryFile(const tstring& path) {
    const UniqueFile file = openSharedForReading(path);
    if (!file) {
        raiseFileError("opening", path);
    }
    Bytes bytes;
    std::uint8_t chunk[65536];
    for (std::size_t count; (count = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
    if (std::ferror(file.get())) {
        raiseFileError("reading", path);
    }
    return bytes;
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const tstring& target) : path(fsPath(target + L".stamping")) {}
    ~TemporaryFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Keeps the launcher's permissions, the execute bits on Linux, but never read-only, so
    // that the result can be stamped again.
    void write(const Bytes& bytes, const tstring& target, const tstring& permissionsFrom) {
        errno = 0;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            raiseFileError("writing", target);
        }
        std::error_code error;
        const fs::file_status source = fs::status(fsPath(permissionsFrom), error);
        if (!error) {
            fs::permissions(path, source.permissions() | fs::perms::owner_write, error);
        }
    }

    void moveTo(const tstring& target) {
        std::error_code error;
        fs::rename(path, fsPath(target), error);
        if (error) {
            VT_RAISE(tstrings::TextBuilder()
                     << "Error replacing \"" << target << "\" file: " << error.message());
        }
    }

private:
    fs::path path;
};

void putResource(ResourceTree& tree, std::uint16_t type, std::uint16_t id, Bytes bytes) {
    tree[type][id] = ResourceLanguages{{neutralLanguage, ResourceData{std::move(bytes), 0}}};
}

// The icons a group refers to, from every language of it.
std::set<std::uint16_t> iconsOfGroup(const ResourceLanguages& group) {
    std::set<std::uint16_t> ids;
    for (const auto& language : group) {
        const ByteView data(language.second.bytes, "icon group");
        const std::size_t count = data.has(0, groupHeaderSize) ? data.u16(4) : 0;
        for (std::size_t i = 0;
             i < count && data.has(groupHeaderSize + (i + 1) * groupEntrySize, 0); ++i) {
            ids.insert(data.u16(groupHeaderSize + i * groupEntrySize + 12));
        }
    }
    return ids;
}

// Replaces the application's icon group and the images it used; other groups stay.
void putIcons(ResourceTree& tree, const std::vector<IconImage>& images) {
    ResourceNames& icons = tree[ResourceType::icon];
    ResourceNames& groups = tree[ResourceType::groupIcon];
    for (std::uint16_t id : iconsOfGroup(groups[appIconGroup])) {
        icons.erase(id);
    }
    Bytes group;
    append16(group, 0);
    append16(group, 1);
    append16(group, static_cast<std::uint16_t>(images.size()));
    std::uint16_t id = 1;
    for (const IconImage& image : images) {
        while (icons.count(id) != 0 && id < 0xFFFF) {
            ++id;
        }
        if (icons.count(id) != 0) {
            VT_RAISE("The launcher has no free icon identifier left");
        }
        group.insert(group.end(), {image.width, image.height, image.colorCount, 0});
        append16(group, image.planes);
        append16(group, image.bitCount);
        append32(group, static_cast<std::uint32_t>(image.data.size()));
        append16(group, id);
        putResource(tree, ResourceType::icon, id, image.data);
    }
    putResource(tree, ResourceType::groupIcon, appIconGroup, std::move(group));
}

std::vector<std::pair<tstring, tstring>> versionStrings(const LauncherStamp& stamp,
                                                        const tstring& name) {
    const tstring version = stamp.version.empty() ? L"1.0" : stamp.version;
    std::vector<std::pair<tstring, tstring>> strings;
    if (!stamp.vendor.empty()) {
        strings.emplace_back(L"CompanyName", stamp.vendor);
    }
    strings.emplace_back(L"FileDescription", stamp.description.empty() ? name : stamp.description);
    strings.emplace_back(L"FileVersion", version);
    strings.emplace_back(L"InternalName", name);
    if (!stamp.copyright.empty()) {
        strings.emplace_back(L"LegalCopyright", stamp.copyright);
    }
    strings.emplace_back(L"OriginalFilename", name + L".exe");
    strings.emplace_back(L"ProductName", name);
    strings.emplace_back(L"ProductVersion", version);
    return strings;
}

tstring defaultName(const tstring& output) {
    const tstring file = FileUtils::lastComponent(output);
    return tstrings::endsWith(file, L".exe", tstrings::IgnoreCase) ? file.substr(0, file.size() - 4)
                                                                   : file;
}

} // namespace

namespace {

Bytes stampedImage(const tstring& launcher, const tstring& output, const LauncherStamp& stamp) {
    const tstring name = stamp.name.empty() ? defaultName(output) : stamp.name;
    const VersionNumber version =
        parseVersionNumber(stamp.version.empty() ? tstring(L"1.0") : stamp.version);
    std::vector<IconImage> images;
    if (!stamp.iconFile.empty()) {
        images = parseIcoFile(readBinaryFile(stamp.iconFile), stamp.iconFile);
    }
    const PeImage image(readBinaryFile(launcher), launcher);
    ResourceTree tree = image.resources();
    if (!images.empty()) {
        putIcons(tree, images);
    }
    tree[ResourceType::version].clear();
    putResource(tree, ResourceType::version, versionId,
                buildVersionInfo(version, versionStrings(stamp, name)));
    return image.withResources(tree);
}

} // namespace

void checkLauncherStamp(const tstring& launcher, const LauncherStamp& stamp) {
    stampedImage(launcher, launcher, stamp);
}

void stampLauncher(const tstring& launcher, const tstring& output, const LauncherStamp& stamp) {
    const Bytes stamped = stampedImage(launcher, output, stamp);
    TemporaryFile temporary(output);
    temporary.write(stamped, output, launcher);
    temporary.moveTo(output);
}
