#include "LinuxPackageTree.h"

#include <algorithm>
#include <map>

#include "DesktopFiles.h"
#include "ErrorHandling.h"
#include "IconPng.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "SourceDate.h"

namespace fs = std::filesystem;

namespace {

// How far apart two sizes are, as a ratio: 2 for 256 against 512 and for 16 against 32.
double sizeRatio(std::uint32_t a, std::uint32_t b) {
    return static_cast<double>(std::max(a, b)) / std::min(a, b);
}

// Menus look icons up in the sizes that the hicolor theme indexes. An image of another size
// goes to the nearest of them (the larger on a tie), unless one there fits better; the
// desktop scales it.
std::map<std::uint32_t, std::string>
byThemeSize(const std::map<std::uint32_t, std::string>& images) {
    static const std::uint32_t themeSizes[] = {16, 22, 24, 32, 48, 64, 96, 128, 192, 256, 512};
    std::map<std::uint32_t, std::pair<std::uint32_t, std::string>> chosen;
    for (const auto& image : images) {
        std::uint32_t nearest = themeSizes[0];
        for (const std::uint32_t size : themeSizes) {
            nearest =
                sizeRatio(size, image.first) <= sizeRatio(nearest, image.first) ? size : nearest;
        }
        const auto taken = chosen.find(nearest);
        if (taken == chosen.end() ||
            sizeRatio(image.first, nearest) <= sizeRatio(taken->second.first, nearest)) {
            chosen[nearest] = image;
        }
    }
    std::map<std::uint32_t, std::string> result;
    for (const auto& entry : chosen) {
        result[entry.first] = entry.second.second;
    }
    return result;
}

void installIcon(const PackOptions& options, const fs::path& root) {
    for (const auto& image : byThemeSize(pngIconsBySize(options.resources.icon))) {
        const std::string size = std::to_string(image.first);
        const fs::path dir = root / "usr/share/icons/hicolor" / (size + "x" + size) / "apps";
        LinuxPackageTree::makeFolders(dir);
        PackFiles::writeFile(PackFiles::fromFsPath(dir) + L"/" + options.package.linuxPackageName +
                                 L".png",
                             image.second);
    }
}

// The launchers of one Linux image are the same program: one file under several names, so
// that the package holds it once.
void shareLauncherFile(const fs::path& launcher, const fs::path& extra, std::error_code& error) {
    if (error || PackFiles::readFile(PackFiles::fromFsPath(launcher)) !=
                     PackFiles::readFile(PackFiles::fromFsPath(extra))) {
        return;
    }
    fs::remove(extra, error);
    if (!error) {
        fs::create_hard_link(launcher, extra, error);
    }
}

} // namespace

namespace LinuxPackageTree {

void checkIcon(const PackOptions& options) {
    if (!options.resources.icon.empty()) {
        if (!PackFiles::isFile(options.resources.icon)) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"the icon does not exist: " << options.resources.icon);
        }
        pngIconsBySize(options.resources.icon);
    }
}

void layOut(const PackOptions& options, const tstring& imageDir, const fs::path& root,
            const fs::path& linkedImage) {
    const tstring& packageName = options.package.linuxPackageName;
    makeFolders(root / "opt");
    makeFolders(root / "usr/bin");
    std::error_code error;
    fs::rename(PackFiles::fsPath(imageDir), root / "opt" / PackFiles::fsPath(packageName), error);
    // /usr/bin/PKG, and /usr/bin/PKG-name for each extra launcher.
    std::vector<std::pair<tstring, tstring>> commands = {{packageName, options.name}};
    for (const ExtraLauncher& extra : options.desktop.launchers) {
        commands.emplace_back(DesktopNames::linuxCommand(packageName, extra.name), extra.name);
    }
    const fs::path image = root / "opt" / PackFiles::fsPath(packageName);
    for (const ExtraLauncher& extra : options.desktop.launchers) {
        shareLauncherFile(image / PackFiles::fsPath(options.name),
                          image / PackFiles::fsPath(extra.name), error);
    }
    for (const auto& command : commands) {
        if (!error) {
            fs::create_symlink(linkedImage / PackFiles::fsPath(command.second),
                               root / "usr/bin" / PackFiles::fsPath(command.first), error);
        }
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot lay out the package in " << PackFiles::fromFsPath(root) << L": "
                 << error.message());
    }
    const bool icon = !options.resources.icon.empty();
    if (icon) {
        installIcon(options, root);
    }
    std::vector<DesktopFiles::File> shared =
        DesktopFiles::entries(options, L"/opt/" + packageName, icon ? packageName : tstring());
    for (const DesktopFiles::File& file : DesktopFiles::mimeInfo(options)) {
        shared.push_back(file);
    }
    for (const DesktopFiles::File& file : shared) {
        const fs::path path = root / "usr/share" / PackFiles::fsPath(file.first);
        makeFolders(path.parent_path());
        PackFiles::writeFile(PackFiles::fromFsPath(path), file.second);
    }
}

void normalizeEntries(const fs::path& root) {
    std::error_code error;
    fs::permissions(root, fs::perms(0755), error);
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_symlink(error)) {
            const fs::perms perms = it->status(error).permissions();
            const bool program =
                it->is_directory(error) || (perms & fs::perms::owner_exec) != fs::perms::none;
            fs::permissions(it->path(), program ? fs::perms(0755) : fs::perms(0644), error);
        }
        if (!error && SourceDate::isSet()) {
            PackFiles::setModificationTime(it->path(), SourceDate::epoch(), error);
        }
    }
    if (!error && SourceDate::isSet()) {
        PackFiles::setModificationTime(root, SourceDate::epoch(), error);
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot set the modes and times in " << PackFiles::fromFsPath(root) << L": "
                 << error.message());
    }
}

void makeFolders(const fs::path& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot create " << PackFiles::fromFsPath(dir) << L": " << error.message());
    }
}

} // namespace LinuxPackageTree
