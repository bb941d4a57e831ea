#include "MsiPackage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "MsiTables.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "PackageTools.h"

namespace fs = std::filesystem;

namespace {

std::string attr(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

std::string attr(const char* name, const tstring& value) {
    return attr(name, tstrings::toUtf8(value));
}

// wixl reads its sources by names of ours, beside which it runs: no name of the input reaches
// its preprocessor.
class SourceFolder {
public:
    explicit SourceFolder(const tstring& dir) : dir(PackFiles::fsPath(dir)) {
        std::error_code error;
        fs::create_directory(this->dir, error);
        if (error) {
            raise(this->dir, error);
        }
    }

    // A link to file, else a copy, under sourceName.
    std::string add(const fs::path& file, const std::string& sourceName) const {
        const fs::path source = dir / sourceName;
        std::error_code error;
        fs::create_hard_link(file, source, error);
        if (error) {
            error.clear();
            fs::copy_file(file, source, error);
        }
        if (error) {
            raise(file, error);
        }
        return sourceName;
    }

    fs::path dir;

private:
    [[noreturn]] static void raise(const fs::path& path, const std::error_code& error) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot stage " << PackFiles::fromFsPath(path)
                                         << L" for wixl: " << error.message());
    }
};

// Writes the Directory, Component and File elements of the installed tree. Each file is its
// component's key path, and a component's GUID follows from the upgrade code and the file's
// path, so every version of the application gives a file the same one.
class TreeWriter {
public:
    TreeWriter(const tstring& imageDir, const tstring& upgradeCode, MsiTables::Texts& texts,
               const SourceFolder& sources)
        : root(PackFiles::fsPath(imageDir)), upgradeCode(upgradeCode), texts(texts),
          sources(sources) {}

    void folder(const fs::path& dir, const std::string& indent) {
        std::vector<fs::path> children;
        std::error_code error;
        for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
            children.push_back(it->path());
        }
        if (error) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"cannot read " << PackFiles::fromFsPath(dir) << L": " << error.message());
        }
        std::sort(children.begin(), children.end());
        if (children.empty()) {
            component(dir, indent, indent + "  <CreateFolder/>\n");
        }
        for (const fs::path& child : children) {
            const std::string name = texts.plain(PackFiles::fromFsPath(child.filename()));
            if (fs::is_directory(child, error)) {
                out += indent + "<Directory Id=\"d" + std::to_string(++directories) + "\"" +
                       attr("Name", name) + ">\n";
                folder(child, indent + "  ");
                out += indent + "</Directory>\n";
            } else {
                const std::string id = std::to_string(components + 1);
                component(child, indent,
                          indent + "  <File Id=\"f" + id + "\"" + attr("Name", name) +
                              attr("Source", sources.add(child, "f" + id)) +
                              " KeyPath=\"yes\"/>\n");
            }
        }
    }

    std::string out;
    std::size_t components = 0;

private:
    tstring relative(const fs::path& path) const {
        tstring text = PackFiles::fromFsPath(path.lexically_relative(root));
        std::replace(text.begin(), text.end(), L'\\', L'/');
        return text;
    }

    void component(const fs::path& path, const std::string& indent, const std::string& body) {
        const tstring guid = PackageNames::nameBasedUuid(upgradeCode + L"\n" + relative(path));
        out += indent + "<Component Id=\"c" + std::to_string(++components) + "\"" +
               attr("Guid", guid) + " Win64=\"yes\">\n" + body + indent + "</Component>\n";
    }

    fs::path root;
    tstring upgradeCode;
    MsiTables::Texts& texts;
    const SourceFolder& sources;
    std::size_t directories = 0;
};

tstring vendorOf(const PackOptions& options) {
    return options.resources.vendor.empty() ? options.name : options.resources.vendor;
}

// A shortcut to a launcher in a folder of the user's shell; a registry value is its
// component's key path.
std::string shortcut(const PackOptions& options, MsiTables::Texts& texts, const tstring& id,
                     const std::string& iconId, const tstring& launcher) {
    const tstring key = L"Software\\" + vendorOf(options) + L"\\" + options.name;
    return std::string("        <Component Id=\"") + tstrings::toUtf8(id) + "\"" +
           attr("Guid", PackageNames::nameBasedUuid(options.package.upgradeCode + L"\n" + id)) +
           " Win64=\"yes\">\n" + "          <Shortcut Id=\"" + tstrings::toUtf8(id) + "Link\"" +
           attr("Name", texts.plain(launcher)) +
           attr("Target", "[INSTALLDIR]" + texts.formatted(launcher + L".exe")) +
           " WorkingDirectory=\"INSTALLDIR\" Icon=\"" + iconId + "\"/>\n" +
           "          <RegistryValue Root=\"" + (options.package.perUser ? "HKCU" : "HKLM") + "\"" +
           attr("Key", texts.formatted(key)) + attr("Name", id) +
           " Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>\n" + "        </Component>\n";
}

std::string shellFolder(const char* folderId, const std::string& components) {
    return std::string("      <Directory Id=\"") + folderId + "\">\n" + components +
           "      </Directory>\n";
}

// The file types' ProgId: NAME's letters and digits, the extension after a dot, 39 characters
// at most.
tstring progId(const PackOptions& options, const FileType& type) {
    tstring prefix;
    for (const wchar_t c : options.name) {
        const bool alnum =
            (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
        prefix += alnum ? tstring(1, c) : tstring();
    }
    prefix = (prefix.empty() ? L"App" : prefix).substr(0, 38 - type.extension.size());
    return prefix + L"." + type.extension;
}

// The file types and link schemes in the classes of the machine (or of the user, per user),
// each opening with the launcher: one component, which takes every value away with it.
std::string associations(const PackOptions& options, MsiTables::Texts& texts) {
    const DesktopOptions& desktop = options.desktop;
    if (desktop.fileTypes.empty() && desktop.urlSchemes.empty()) {
        return std::string();
    }
    const std::string root = options.package.perUser ? "HKCU" : "HKLM";
    const tstring exe = L"[INSTALLDIR]" + options.name + L".exe";
    std::string values;
    bool keyPath = true;
    // exe is formatted text; every other text is kept as it is.
    const auto value = [&](const tstring& key, const tstring& name, const std::string& text) {
        values += "        <RegistryValue Root=\"" + root + "\"" +
                  attr("Key", texts.formatted(L"Software\\Classes\\" + key)) +
                  (name.empty() ? std::string() : attr("Name", texts.plain(name))) +
                  " Type=\"string\"" + attr("Value", text) + (keyPath ? " KeyPath=\"yes\"" : "") +
                  "/>\n";
        keyPath = false;
    };
    const auto opener = [&](const tstring& key) {
        value(key + L"\\DefaultIcon", L"",
              "[INSTALLDIR]" + texts.formatted(options.name + L".exe,0"));
        value(key + L"\\shell\\open\\command", L"",
              "&quot;[INSTALLDIR]" + texts.formatted(options.name + L".exe") +
                  "&quot; &quot;%1&quot;");
    };
    tstring_array mimeTypes;
    for (const FileType& type : desktop.fileTypes) {
        const tstring id = progId(options, type);
        value(L"." + type.extension, L"", texts.formatted(id));
        value(L"." + type.extension, L"Content Type", texts.formatted(type.mimeType));
        value(id, L"", texts.formatted(DesktopNames::fileTypeDescription(options, type)));
        opener(id);
        if (std::find(mimeTypes.begin(), mimeTypes.end(), type.mimeType) == mimeTypes.end()) {
            mimeTypes.push_back(type.mimeType);
            value(L"MIME\\Database\\Content Type\\" + type.mimeType, L"Extension",
                  texts.formatted(L"." + type.extension));
        }
    }
    for (const tstring& scheme : desktop.urlSchemes) {
        value(scheme, L"", texts.formatted(L"URL:" + options.name));
        value(scheme, L"URL Protocol", "");
        opener(scheme);
    }
    return "      <Component Id=\"Associations\"" +
           attr("Guid",
                PackageNames::nameBasedUuid(options.package.upgradeCode + L"\nAssociations")) +
           " Win64=\"yes\">\n" + values + "      </Component>\n";
}

std::string installFolders(const PackOptions& options, MsiTables::Texts& texts,
                           const std::string& tree) {
    const std::string install =
        "<Directory Id=\"INSTALLDIR\"" + attr("Name", texts.plain(options.name)) + ">\n" + tree;
    if (options.package.perUser) {
        return "      <Directory Id=\"LocalAppDataFolder\">\n"
               "        <Directory Id=\"UserPrograms\" Name=\"Programs\">\n"
               "          " +
               install + "          </Directory>\n        </Directory>\n      </Directory>\n";
    }
    return "      <Directory Id=\"ProgramFiles64Folder\">\n        " + install +
           "        </Directory>\n      </Directory>\n";
}

// wixl reports a failed write (a full disk) in a warning and exits 0 all the same: the
// installer must be there, a compound file with its header and more.
void checkWritten(const tstring& msiPath, const tstring& imageDir) {
    const std::string signature("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(PackFiles::fsPath(msiPath), error);
    std::string header(8, '\0');
    std::ifstream(PackFiles::fsPath(msiPath), std::ios::binary).read(&header[0], 8);
    if (!error && size >= 1536 && header == signature) {
        return;
    }
    tstrings::TextBuilder text;
    text << L"wixl wrote no whole installer " << FileUtils::lastComponent(msiPath);
    const fs::space_info space =
        fs::space(PackFiles::fsPath(FileUtils::parentPath(msiPath)), error);
    const std::uint64_t needed = PackFiles::treeSize(imageDir);
    if (!error && space.available < needed) {
        text << tstrings::format(L": the disk is full (%.1f MiB free for an image of %.1f MiB)",
                                 static_cast<double>(space.available) / (1 << 20),
                                 static_cast<double>(needed) / (1 << 20));
    }
    VT_RAISE(text);
}

// The icon's file kind is in its id: Windows Installer extracts it by that name.
std::string iconIdOf(const tstring& icon) {
    return tstrings::endsWith(tstrings::toLower(icon), L".ico") ? "AppIcon.ico" : "AppIcon.exe";
}

tstring wixlTool() {
    return PackageTools::find(L"wixl", L"--type msi", L"wixl");
}

} // namespace

namespace MsiPackage {

void check() {
    wixlTool();
    MsiTables::checkTools();
}

std::string wixSource(const PackOptions& options, const tstring& imageDir, const tstring& icon,
                      const tstring& sourceDir, MsiTables::Texts& texts) {
    const tstring& name = options.name;
    const SourceFolder sources(sourceDir);
    TreeWriter tree(imageDir, options.package.upgradeCode, texts, sources);
    tree.folder(PackFiles::fsPath(imageDir),
                options.package.perUser ? "            " : "          ");
    const std::string iconId = iconIdOf(icon);
    std::string refs;
    for (std::size_t i = 1; i <= tree.components; ++i) {
        refs += "      <ComponentRef Id=\"c" + std::to_string(i) + "\"/>\n";
    }
    std::string menu = shortcut(options, texts, L"StartMenuShortcut", iconId, name);
    refs += "      <ComponentRef Id=\"StartMenuShortcut\"/>\n";
    // A windowed extra launcher has a Start-menu shortcut of its own.
    const std::vector<ExtraLauncher>& extras = options.desktop.launchers;
    for (std::size_t i = 0; i < extras.size(); ++i) {
        const tstring id = L"StartMenuShortcut" + std::to_wstring(i + 1);
        if (extras[i].gui) {
            menu += shortcut(options, texts, id, iconId, extras[i].name);
            refs += "      <ComponentRef Id=\"" + tstrings::toUtf8(id) + "\"/>\n";
        }
    }
    std::string shortcuts = shellFolder("ProgramMenuFolder", menu);
    if (options.package.desktopShortcut) {
        shortcuts += shellFolder("DesktopFolder",
                                 shortcut(options, texts, L"DesktopShortcut", iconId, name));
        refs += "      <ComponentRef Id=\"DesktopShortcut\"/>\n";
    }
    const std::string registry = associations(options, texts);
    shortcuts += registry;
    refs += registry.empty() ? "" : "      <ComponentRef Id=\"Associations\"/>\n";
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
           "  <Product Id=\"*\"" +
           attr("Name", texts.plain(name)) + " Language=\"1033\"" +
           attr("Version", PackageNames::msiProductVersion(PackageNames::versionText(options))) +
           attr("Manufacturer", texts.plain(vendorOf(options))) +
           attr("UpgradeCode", options.package.upgradeCode) +
           ">\n    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"" +
           (options.package.perUser ? "perUser" : "perMachine") + "\"" +
           attr("Description", texts.plain(options.resources.description.empty()
                                               ? name
                                               : options.resources.description)) +
           "/>\n    <MajorUpgrade" +
           attr("DowngradeErrorMessage",
                texts.formatted(L"A newer version of " + name + L" is already installed.")) +
           "/>\n    <Media Id=\"1\" Cabinet=\"app.cab\" EmbedCab=\"yes\"/>\n    <Icon Id=\"" +
           iconId + "\"" + attr("SourceFile", sources.add(PackFiles::fsPath(icon), iconId)) +
           "/>\n    <Property Id=\"ARPPRODUCTICON\" Value=\"" + iconId +
           "\"/>\n    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n" +
           installFolders(options, texts, tree.out) + shortcuts +
           "    </Directory>\n    <Feature Id=\"Complete\" Level=\"1\">\n" + refs +
           "    </Feature>\n  </Product>\n</Wix>\n";
}

void write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
           const tstring& msiPath) {
    const tstring wixl = wixlTool();
    // Without --icon the launcher, which carries the application's icon, gives it.
    const tstring icon = options.resources.icon.empty()
                             ? FileUtils::joinPath(imageDir, options.name + L".exe")
                             : options.resources.icon;
    const tstring sourceDir = FileUtils::joinPath(workDir, L"sources");
    const tstring source = FileUtils::joinPath(workDir, L"package.wxs");
    MsiTables::Texts texts;
    PackFiles::writeFile(source, wixSource(options, imageDir, icon, sourceDir, texts));
    PackageTools::run(
        wixl, {L"-a", L"x64", L"-o", PackFiles::normalPath(msiPath), PackFiles::normalPath(source)},
        sourceDir);
    checkWritten(msiPath, imageDir);
    MsiTables::finish(msiPath, texts, workDir);
}

} // namespace MsiPackage
