#include "AptRepository.h"

#include <filesystem>
#include <system_error>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "PackageTools.h"
#include "StagingImage.h"

namespace fs = std::filesystem;

namespace {

const wchar_t* const purpose = L"--publish with --type deb";
const wchar_t* const suiteDir = L"dists/stable";
const wchar_t* const packagesFile = L"dists/stable/main/binary-amd64/Packages";

tstring gpg() {
    return PackageTools::find(L"gpg", purpose, L"gnupg");
}

tstring siteApt(const PackOptions& options) {
    return FileUtils::joinPath(PackFiles::normalPath(options.package.publish), L"apt");
}

// Debian's layout: pool/main/<first letter>/<package>/<file>.
tstring poolPath(const PackOptions& options) {
    const tstring& name = options.package.linuxPackageName;
    return FileUtils::PathBuilder()
           << L"pool" << L"main" << name.substr(0, 1) << name << PackageNames::outputName(options);
}

// The fingerprints of the primary keys that gpg's --with-colons listing names, in its order.
tstring_array primaryFingerprints(const std::string& listing, const char* primaryRecord) {
    tstring_array fingerprints;
    bool afterPrimary = false;
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(listing), L"\n")) {
        const tstring_array fields = tstrings::split(line, L":");
        const tstring record = fields.empty() ? tstring() : fields[0];
        if (record == tstrings::fromUtf8(primaryRecord)) {
            afterPrimary = true;
        } else if (record == L"fpr" && afterPrimary && fields.size() > 9) {
            fingerprints.push_back(fields[9]);
            afterPrimary = false;
        }
    }
    return fingerprints;
}

// Exactly one secret key: a user id that matches two would export both into KEY.gpg.
tstring signingKey(const PackOptions& options) {
    const tstring& keyId = options.package.aptSigningKey;
    const PackHost::ProcessResult listed = PackageTools::runUnchecked(
        gpg(), {L"--batch", L"--with-colons", L"--list-secret-keys", L"--", keyId});
    const tstring_array keys =
        listed.exitCode == 0 ? primaryFingerprints(listed.out, "sec") : tstring_array();
    if (keys.empty()) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"--apt-signing-key " << keyId << L" names no secret key in the gpg key ring");
    }
    if (keys.size() > 1) {
        VT_RAISE(tstrings::TextBuilder() << L"--apt-signing-key " << keyId << L" names "
                                         << keys.size() << L" secret keys: give a fingerprint");
    }
    return keys.front();
}

// Another key would make apt refuse every update for those who trust the site's.
void checkSiteKey(const tstring& apt, const tstring& fingerprint) {
    const tstring keyFile = FileUtils::joinPath(apt, L"KEY.gpg");
    if (!PackFiles::exists(keyFile)) {
        return;
    }
    const std::string shown =
        PackageTools::run(gpg(), {L"--batch", L"--with-colons", L"--show-keys", L"--", keyFile});
    if (primaryFingerprints(shown, "pub") != tstring_array{fingerprint}) {
        VT_RAISE(tstrings::TextBuilder() << L"the site's key " << keyFile
                                         << L" is not the --apt-signing-key, which would sign it");
    }
}

void checkNotPublished(const PackOptions& options, const tstring& apt) {
    if (PackFiles::exists(FileUtils::joinPath(apt, poolPath(options)))) {
        VT_RAISE(tstrings::TextBuilder()
                 << options.package.linuxPackageName << L" "
                 << PackageNames::debianVersion(PackageNames::versionText(options))
                 << L" is already published in " << apt);
    }
}

// Published files never change: the new state links them, or copies where links can't be.
void linkPool(const tstring& fromApt, const tstring& toApt) {
    const fs::path from = PackFiles::fsPath(FileUtils::joinPath(fromApt, L"pool"));
    if (!PackFiles::isDirectory(PackFiles::fromFsPath(from))) {
        return;
    }
    const fs::path to = PackFiles::fsPath(FileUtils::joinPath(toApt, L"pool"));
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(from)) {
        const fs::path target = to / entry.path().lexically_relative(from);
        if (entry.is_directory()) {
            fs::create_directories(target);
            continue;
        }
        std::error_code error;
        fs::create_hard_link(entry.path(), target, error);
        if (error) {
            PackFiles::copyFile(PackFiles::fromFsPath(entry.path()), PackFiles::fromFsPath(target));
        }
    }
}

void writeIndexes(const tstring& apt) {
    const tstring ftparchive = PackageTools::find(L"apt-ftparchive", purpose, L"apt-utils");
    const tstring packages = FileUtils::joinPath(apt, packagesFile);
    fs::create_directories(PackFiles::fsPath(FileUtils::parentPath(packages)));
    // Run in the repository, so that each Filename is relative to it.
    PackFiles::writeFile(packages, PackageTools::run(ftparchive, {L"packages", L"pool"}, apt));
    const std::string release =
        PackageTools::run(ftparchive, {L"-o", L"APT::FTPArchive::Release::Suite=stable", L"-o",
                                       L"APT::FTPArchive::Release::Codename=stable", L"-o",
                                       L"APT::FTPArchive::Release::Components=main", L"-o",
                                       L"APT::FTPArchive::Release::Architectures=amd64", L"release",
                                       FileUtils::joinPath(apt, suiteDir)});
    PackFiles::writeFile(FileUtils::PathBuilder() << apt << suiteDir << L"Release", release);
}

void sign(const tstring& apt, const tstring& fingerprint) {
    const tstring suite = FileUtils::joinPath(apt, suiteDir);
    const tstring release = FileUtils::joinPath(suite, L"Release");
    for (const wchar_t* const signature : {L"--clearsign", L"--detach-sign"}) {
        const tstring output = FileUtils::joinPath(
            suite, tstring(signature) == L"--clearsign" ? L"InRelease" : L"Release.gpg");
        PackageTools::run(gpg(), {L"--batch", L"--yes", L"--armor", L"--local-user", fingerprint,
                                  L"--output", output, signature, L"--", release});
    }
    const std::string key = PackageTools::run(
        gpg(), {L"--batch", L"--export-options", L"export-minimal", L"--export", fingerprint});
    PackFiles::writeFile(FileUtils::joinPath(apt, L"KEY.gpg"), key);
}

// One publish at a time: a second one would swap in a state without the first one's version.
// A folder, since creating one either succeeds or finds it there, on every file system.
class SiteLock {
public:
    explicit SiteLock(const tstring& site) : path(FileUtils::joinPath(site, L".apt.lock")) {
        std::error_code error;
        if (!fs::create_directory(PackFiles::fsPath(path), error)) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"cannot lock the site with " << path << L": "
                     << (error ? tstrings::fromUtf8(error.message())
                               : tstring(L"another run is publishing (remove it if none is)")));
        }
    }
    ~SiteLock() {
        std::error_code ignored;
        fs::remove(PackFiles::fsPath(path), ignored);
    }
    SiteLock(const SiteLock&) = delete;
    SiteLock& operator=(const SiteLock&) = delete;

private:
    tstring path;
};

// Swapped in one step; the staging folder then holds the old state and goes with it.
void commit(StagingImage& staging) {
    if (!PackFiles::exists(staging.finalPath())) {
        staging.commit();
        return;
    }
    std::error_code error;
    PackFiles::exchange(staging.root(), staging.finalPath(), error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot replace " << staging.finalPath() << L": " << error.message());
    }
}

} // namespace

namespace AptRepository {

void check(const PackOptions& options) {
    PackageTools::find(L"apt-ftparchive", purpose, L"apt-utils");
    const tstring apt = siteApt(options);
    checkSiteKey(apt, signingKey(options));
    checkNotPublished(options, apt);
}

void publish(const PackOptions& options, const tstring& deb) {
    const tstring apt = siteApt(options);
    StagingImage staging(FileUtils::parentPath(apt), L"apt");
    const SiteLock lock(FileUtils::parentPath(apt));
    const tstring fingerprint = signingKey(options);
    checkSiteKey(apt, fingerprint);
    checkNotPublished(options, apt);
    linkPool(apt, staging.root());
    const tstring pooled = FileUtils::joinPath(staging.root(), poolPath(options));
    fs::create_directories(PackFiles::fsPath(FileUtils::parentPath(pooled)));
    PackFiles::copyFile(deb, pooled);
    writeIndexes(staging.root());
    sign(staging.root(), fingerprint);
    PackHost::checkNotStopped();
    commit(staging);
}

} // namespace AptRepository
