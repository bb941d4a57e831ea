#include "DebPackage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "LinuxPackageTree.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "PackageTools.h"

namespace fs = std::filesystem;

namespace {

tstring dpkgDeb() {
    return PackageTools::find(L"dpkg-deb", L"--type deb", L"dpkg");
}

tstring dpkgShlibdeps() {
    return PackageTools::find(L"dpkg-shlibdeps", L"--type deb", L"dpkg-dev");
}

// The start of an ELF file's header, up to its machine field.
std::string elfHeader(const fs::path& path) {
    char header[20] = {};
    std::ifstream stream(path, std::ios::binary);
    stream.read(header, sizeof(header));
    const std::string bytes(header, static_cast<std::size_t>(stream.gcount()));
    return bytes.compare(0, 4,
                         "\x7f"
                         "ELF") == 0
               ? bytes
               : std::string();
}

// 64-bit, little-endian, for the target's machine: what the package's architecture runs.
bool isForTarget(const std::string& header, const PackTarget& target) {
    return header.size() == 20 && header[4] == 2 && header[5] == 1 &&
           static_cast<unsigned char>(header[18]) == (target.elfMachine & 0xff) &&
           static_cast<unsigned char>(header[19]) == (target.elfMachine >> 8);
}

// The value of shlibs:Depends in dpkg-shlibdeps's output.
std::string dependsLine(const std::string& out) {
    const std::string key = "shlibs:Depends=";
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(out), L"\n")) {
        const std::string text = tstrings::toUtf8(line);
        if (text.compare(0, key.size(), key) == 0) {
            return text.substr(key.size());
        }
    }
    return std::string();
}

// The ELF files that dpkg-shlibdeps reads, relative to workDir; those of another machine are
// left out with a warning.
tstring_array elfFiles(const fs::path& workDir, const fs::path& image, const PackTarget& target,
                       tstring_array& warnings) {
    tstring_array files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(image, error), end; !error && it != end;
         it.increment(error)) {
        const std::string header = it->is_regular_file(error) && !it->is_symlink(error)
                                       ? elfHeader(it->path())
                                       : std::string();
        if (header.empty()) {
            continue;
        }
        if (isForTarget(header, target)) {
            files.push_back(PackFiles::fromFsPath(it->path().lexically_relative(workDir)));
        } else {
            warnings.push_back(
                PackFiles::fromFsPath(it->path().lexically_relative(image)) + L" is not for " +
                (target.elfMachine == PackTargets::linuxArm64.elfMachine ? L"aarch64" : L"x86-64") +
                L": Depends does not cover it");
        }
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot read " << PackFiles::fromFsPath(image) << L": " << error.message());
    }
    return files;
}

// The files that dpkg-shlibdeps names in "cannot find library LIB needed by FILE (...)", each
// with the libraries it lacks.
std::map<tstring, tstring> unresolvedFiles(const std::string& err) {
    const tstring prefix = L"cannot find library ";
    std::map<tstring, tstring> found;
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(err), L"\n")) {
        const std::size_t start = line.find(prefix);
        const std::size_t by = line.find(L" needed by ", start);
        const std::size_t end = line.rfind(L" (ELF format:");
        if (start == tstring::npos || by == tstring::npos || end == tstring::npos || end < by) {
            continue;
        }
        const tstring library = line.substr(start + prefix.size(), by - start - prefix.size());
        tstring& libraries = found[line.substr(by + 11, end - by - 11)];
        libraries += (libraries.empty() ? L"" : L", ") + library;
    }
    return found;
}

// Depends from the ELF files of the image. A file whose libraries this machine doesn't have
// is left out with a warning, so that the rest still counts. For another architecture,
// dpkg-shlibdeps finds the libraries of that architecture's packages where multiarch installs
// them (libc6:arm64 and so on); without them, the same warnings.
std::string sharedLibraryDepends(const fs::path& workDir, const fs::path& image,
                                 const PackTarget& target, tstring_array& warnings) {
    tstring_array files = elfFiles(workDir, image, target, warnings);
    PackFiles::writeFile(PackFiles::fromFsPath(workDir / "debian/control"),
                         "Source: package\n\nPackage: package\nArchitecture: " +
                             tstrings::toUtf8(target.debianArch) + "\n");
    const tstring imagePrefix =
        PackFiles::fromFsPath(image.lexically_relative(workDir)) + FileUtils::pathSeparator;
    for (int attempt = 0; !files.empty(); ++attempt) {
        std::map<tstring, bool> libraryDirs;
        for (const tstring& file : files) {
            libraryDirs[L"-l" + FileUtils::parentPath(file)] = true;
        }
        tstring_array args = {L"-O"};
        for (const auto& dir : libraryDirs) {
            args.push_back(dir.first);
        }
        args.insert(args.end(), files.begin(), files.end());
        const PackHost::ProcessResult result =
            PackageTools::runUnchecked(dpkgShlibdeps(), args, PackFiles::fromFsPath(workDir));
        const std::map<tstring, tstring> unresolved = unresolvedFiles(result.err);
        if (result.exitCode == 0 || unresolved.empty() || attempt > 0) {
            return dependsLine(PackageTools::checkedOutput(dpkgShlibdeps(), result));
        }
        for (const auto& file : unresolved) {
            files.erase(std::remove(files.begin(), files.end(), file.first), files.end());
            const bool inImage = tstrings::startsWith(file.first, imagePrefix);
            warnings.push_back(file.first.substr(inImage ? imagePrefix.size() : 0) + L" needs " +
                               file.second +
                               L", which is not installed here: Depends does not cover it");
        }
    }
    return std::string();
}

std::string controlText(const PackOptions& options, const std::string& depends,
                        std::uint64_t size) {
    const tstring& name = options.name;
    const PackageOptions& package = options.package;
    const tstring maintainer = !package.maintainer.empty()         ? package.maintainer
                               : !options.resources.vendor.empty() ? options.resources.vendor
                                                                   : name;
    std::string text =
        "Package: " + tstrings::toUtf8(package.linuxPackageName) + "\n" + "Version: " +
        tstrings::toUtf8(PackageNames::debianVersion(PackageNames::versionText(options))) +
        "\nArchitecture: " + tstrings::toUtf8(options.target->debianArch) +
        "\nMaintainer: " + tstrings::toUtf8(maintainer) +
        "\nInstalled-Size: " + std::to_string((size + 1023) / 1024) + "\n";
    if (!depends.empty()) {
        text += "Depends: " + depends + "\n";
    }
    return text + "Section: misc\nPriority: optional\nDescription: " +
           tstrings::toUtf8(options.resources.description.empty() ? name
                                                                  : options.resources.description) +
           "\n";
}

} // namespace

namespace DebPackage {

void check(const PackOptions& options) {
    dpkgDeb();
    dpkgShlibdeps();
    LinuxPackageTree::checkIcon(options);
}

tstring_array write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
                    const tstring& debPath) {
    const tstring& packageName = options.package.linuxPackageName;
    const fs::path work = PackFiles::fsPath(workDir);
    const fs::path root = work / "debian" / PackFiles::fsPath(packageName);
    // Debian's rules: a link from one top-level folder to another is absolute.
    LinuxPackageTree::layOut(options, imageDir, root,
                             fs::path("/opt") / PackFiles::fsPath(packageName));
    LinuxPackageTree::makeFolders(root / "DEBIAN");
    tstring_array warnings;
    const std::string depends = sharedLibraryDepends(
        work, root / "opt" / PackFiles::fsPath(packageName), *options.target, warnings);
    const std::uint64_t size = PackFiles::treeSize(PackFiles::fromFsPath(root));
    PackFiles::writeFile(PackFiles::fromFsPath(root / "DEBIAN/control"),
                         controlText(options, depends, size));
    LinuxPackageTree::normalizeEntries(root);
    // xz at its fastest level: a linked runtime takes six times as long at the default level,
    // for a package a seventh smaller.
    PackageTools::run(dpkgDeb(), {L"--root-owner-group", L"-Zxz", L"-z1", L"--build",
                                  PackFiles::fromFsPath(root), debPath});
    return warnings;
}

} // namespace DebPackage
