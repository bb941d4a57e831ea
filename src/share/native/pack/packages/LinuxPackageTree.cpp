#include "LinuxPackageTree.h"

#include <algorithm>
#include <map>

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

// One argument of an Exec key, quoted as the Desktop Entry rules ask when it needs it.
std::string execArgument(const std::string& arg) {
    if (arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    for (const char c : arg) {
        quoted += std::string(c == '"' || c == '`' || c == '$' || c == '\\' ? "\\" : "") + c;
    }
    return quoted + "\"";
}

// A string value of a desktop entry: its backslashes escaped.
std::string desktopValue(const std::string& text) {
    std::string result;
    for (const char c : text) {
        result += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return result;
}

std::string percentEscaped(const std::string& text) {
    std::string result;
    for (const char c : text) {
        result += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return result;
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

std::string desktopEntry(const PackOptions& options, const tstring& iconName) {
    const std::string launcher = "/opt/" + tstrings::toUtf8(options.package.linuxPackageName) +
                                 "/" + tstrings::toUtf8(options.name);
    std::string text =
        "[Desktop Entry]\nType=Application\nName=" + desktopValue(tstrings::toUtf8(options.name)) +
        "\n";
    if (!options.resources.description.empty()) {
        text += "Comment=" + desktopValue(tstrings::toUtf8(options.resources.description)) + "\n";
    }
    text += "Exec=" + desktopValue(percentEscaped(execArgument(launcher))) + "\n";
    if (!iconName.empty()) {
        text += "Icon=" + desktopValue(tstrings::toUtf8(iconName)) + "\n";
    }
    return text + "Terminal=false\nCategories=Utility;\n";
}

void layOut(const PackOptions& options, const tstring& imageDir, const fs::path& root,
            const fs::path& launcherLink) {
    const tstring& packageName = options.package.linuxPackageName;
    makeFolders(root / "opt");
    makeFolders(root / "usr/bin");
    std::error_code error;
    fs::rename(PackFiles::fsPath(imageDir), root / "opt" / PackFiles::fsPath(packageName), error);
    if (!error) {
        fs::create_symlink(launcherLink, root / "usr/bin" / PackFiles::fsPath(packageName), error);
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
    if (options.package.desktopEntry) {
        makeFolders(root / "usr/share/applications");
        PackFiles::writeFile(PackFiles::fromFsPath(root / "usr/share/applications") + L"/" +
                                 packageName + L".desktop",
                             desktopEntry(options, icon ? packageName : tstring()));
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
