#include "RpmPackage.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <set>

#include "ErrorHandling.h"
#include "LinuxPackageTree.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "PackageTools.h"
#include "SourceDate.h"

namespace fs = std::filesystem;

namespace {

tstring rpmbuild() {
    return PackageTools::find(L"rpmbuild", L"--type rpm", L"rpm");
}

bool isPlain(const std::string& text) {
    return text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789/._+-") == std::string::npos;
}

// rpmbuild writes its folders into shell scripts between double quotes, where a DEST with $, `
// or " would be code: it reaches the work folder through a link in a folder of its own, whose
// path holds no such character. That folder is rpmbuild's HOME too, so that no ~/.rpmmacros
// of the user's changes the package.
class PlainPath {
public:
    explicit PlainPath(const fs::path& workDir) {
        std::error_code error;
        fs::path base = fs::temp_directory_path(error);
        if (error || !base.is_absolute() || !isPlain(base.string())) {
            base = "/tmp";
        }
        std::random_device random;
        for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
            const fs::path candidate = base / ("vantrel-rpm-" + std::to_string(random()));
            if (fs::create_directory(candidate, error) && !error) {
                dir = candidate;
            }
        }
        if (!dir.empty()) {
            fs::permissions(dir, fs::perms::owner_all, error);
            if (!error) {
                fs::create_directory_symlink(workDir, dir / "w", error);
            }
        }
        if (dir.empty() || error) {
            remove();
            VT_RAISE(tstrings::TextBuilder()
                     << L"cannot make a folder for rpmbuild in " << PackFiles::fromFsPath(base)
                     << L": " << error.message());
        }
    }
    PlainPath(const PlainPath&) = delete;
    PlainPath& operator=(const PlainPath&) = delete;
    ~PlainPath() { remove(); }

    fs::path home() const { return dir; }
    fs::path work() const { return dir / "w"; }

private:
    void remove() {
        std::error_code ignored;
        if (!dir.empty()) {
            fs::remove_all(dir, ignored); // the link, not what it leads to
        }
    }

    fs::path dir;
};

// A text as a tag or line of the build recipe holds it: % would start a macro.
std::string recipeText(const tstring& text) {
    std::string result;
    for (const char c : tstrings::toUtf8(text)) {
        result += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return result;
}

// A regular expression that matches the name exactly, for the names that sonames have.
std::string regexOf(const std::string& name) {
    std::string result;
    for (const char c : name) {
        result += c == '.' || c == '+' ? std::string("[") + c + "]" : std::string(1, c);
    }
    return result;
}

// The image's own libraries, which its files need by name: rpm requires them of no other
// package, as it provides them to none.
std::string ownLibraries(const fs::path& image) {
    std::set<std::string> names;
    std::error_code error;
    for (fs::recursive_directory_iterator it(image, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::size_t so = name.find(".so");
        if (!it->is_directory(error) && so != std::string::npos &&
            (so + 3 == name.size() || name[so + 3] == '.') && isPlain(name)) {
            names.insert(regexOf(name));
        }
    }
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot read " << PackFiles::fromFsPath(image) << L": " << error.message());
    }
    std::string alternatives;
    for (const std::string& name : names) {
        alternatives += (alternatives.empty() ? "" : "|") + name;
    }
    return alternatives;
}

// The files outside /opt/PKG, each named in %files: the folders they are in belong to the
// system.
std::string systemFiles(const fs::path& root) {
    std::set<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root / "usr", error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_directory(error) || it->is_symlink(error)) {
            files.insert("\"/" + it->path().lexically_relative(root).string() + "\"\n");
        }
    }
    std::string text;
    for (const std::string& file : files) {
        text += file;
    }
    return text;
}

// The date of a %changelog entry, such as "Tue Nov 14 2023".
std::string changelogDate(std::int64_t time) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t value = static_cast<std::time_t>(time);
    const std::tm* date = std::gmtime(&value);
    if (date == nullptr) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot convert the time " << time << L" to a date");
    }
    char day[3];
    std::snprintf(day, sizeof(day), "%02d", date->tm_mday);
    return std::string(days[date->tm_wday]) + " " + months[date->tm_mon] + " " + day + " " +
           std::to_string(date->tm_year + 1900);
}

std::string buildRecipe(const PackOptions& options, const fs::path& root) {
    const tstring& name = options.name;
    const PackageOptions& package = options.package;
    const WindowsResources& resources = options.resources;
    const std::string packageName = tstrings::toUtf8(package.linuxPackageName);
    const std::string version =
        tstrings::toUtf8(PackageNames::rpmVersion(PackageNames::versionText(options)));
    const std::string packager = recipeText(!package.maintainer.empty() ? package.maintainer
                                            : !resources.vendor.empty() ? resources.vendor
                                                                        : name);
    const std::string description =
        recipeText(resources.description.empty() ? name : resources.description);
    std::string text = "%global __provides_exclude_from ^/opt/" + regexOf(packageName) + "/\n";
    const std::string libraries = ownLibraries(root / "opt" / packageName);
    if (!libraries.empty()) {
        text += "%global __requires_exclude ^(" + libraries + ")[(]\n";
    }
    text +=
        "Name: " + packageName + "\nVersion: " + version + "\nRelease: 1\nSummary: " + description +
        // The tool can't know the application's license.
        "\nLicense: Unspecified\nGroup: Applications/Productivity\nPackager: " + packager + "\n";
    if (!resources.vendor.empty()) {
        text += "Vendor: " + recipeText(resources.vendor) + "\n";
    }
    return text + "\n%description\n" + description +
           "\n\n%files\n%defattr(-,root,root,-)\n\"/opt/" + packageName + "\"\n" +
           systemFiles(root) + "\n%changelog\n* " + changelogDate(SourceDate::epochOrNow()) + " " +
           packager + " - " + version + "-1\n- Packed by vantrel-pack\n";
}

} // namespace

namespace RpmPackage {

void check(const PackOptions& options) {
    rpmbuild();
    LinuxPackageTree::checkIcon(options);
}

void write(const PackOptions& options, const tstring& imageDir, const tstring& workDir,
           const tstring& rpmPath) {
    const tstring& packageName = options.package.linuxPackageName;
    const fs::path work = PackFiles::fsPath(workDir);
    const fs::path root = work / "root";
    // A relative link, as rpm's rules ask; it also holds below another root.
    LinuxPackageTree::layOut(options, imageDir, root,
                             fs::path("../../opt") / PackFiles::fsPath(packageName));
    LinuxPackageTree::normalizeEntries(root);
    PackFiles::writeFile(PackFiles::fromFsPath(work / "package.recipe"),
                         buildRecipe(options, root));
    LinuxPackageTree::makeFolders(work / "tmp");

    const PlainPath plain(work);
    const std::string at = plain.work().string();
    const std::string arch = tstrings::toUtf8(options.target->rpmArch);
    std::vector<std::string> defines = {
        "_topdir " + at + "/top", "_tmppath " + at + "/tmp",
        // The image as it is: no stripping, no debug package, no build-id links in /usr/lib
        // (two applications with the same launcher would both own them).
        "__os_install_post %{nil}", "debug_package %{nil}", "_build_id_links none",
        // xz at a fast level, as the Debian package.
        "_binary_payload w1.xzdio",
        // With SOURCE_DATE_EPOCH: the build time and no file's time after it.
        "source_date_epoch_from_changelog 0", "use_source_date_epoch_as_buildtime 1",
        "clamp_mtime_to_source_date_epoch 1"};
    if (SourceDate::isSet()) {
        defines.push_back("_buildhost reproducible");
    }
    tstring_array args = {L"HOME=" + PackFiles::fromFsPath(plain.home()),
                          rpmbuild(),
                          L"-bb",
                          L"--quiet",
                          L"--target",
                          options.target->rpmArch,
                          L"--buildroot",
                          tstrings::fromUtf8(at + "/root")};
    for (const std::string& define : defines) {
        args.insert(args.end(), {L"--define", tstrings::fromUtf8(define)});
    }
    args.push_back(tstrings::fromUtf8(at + "/package.recipe"));
    PackageTools::checkedOutput(rpmbuild(), PackageTools::runUnchecked(L"/usr/bin/env", args));

    const fs::path built =
        work / "top/RPMS" / arch / PackFiles::fsPath(PackageNames::outputName(options));
    std::error_code error;
    fs::rename(built, PackFiles::fsPath(rpmPath), error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder() << L"rpmbuild wrote no " << PackFiles::fromFsPath(built)
                                         << L": " << error.message());
    }
}

} // namespace RpmPackage
