#include "UpdateSite.h"

#include <ctime>
#include <filesystem>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "PackageTools.h"
#include "StagingImage.h"
#include "Toolbox.h"
#include "UpdateMetadata.h"

namespace fs = std::filesystem;

bool UpdateSite::versionOrder(const tstring& version, UpdateMetadata::VersionOrder& order) {
    const tstring numbers = PackageNames::msiProductVersion(version);
    if (numbers.empty()) {
        return false;
    }
    order = UpdateMetadata::VersionOrder{0, 0, 0, 0};
    std::size_t i = 0;
    for (const tstring& part : tstrings::split(numbers, L".")) {
        order[i++] = std::wcstoul(part.c_str(), nullptr, 10);
    }
    return true;
}
using UpdateMetadata::Document;

namespace {

bool isWindowsPackage(PackageType type) {
    return type == PackageType::Msi || type == PackageType::Zip;
}

bool asked(const PackOptions& options) {
    return isWindowsPackage(options.package.type) && !options.package.publish.empty();
}

tstring openssl() {
    return PackageTools::find(L"openssl", L"--update-key", L"openssl");
}

// A SubjectPublicKeyInfo of a P-256 key holds exactly this before its uncompressed point.
const std::string p256Prefix("\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a"
                             "\x86\x48\xce\x3d\x03\x01\x07\x03\x42\x00\x04",
                             27);

// The private key stays in the user's file: only openssl reads it, and only its public half
// is kept.
class UpdateKey {
public:
    explicit UpdateKey(const tstring& file) : file(file) {
        try {
            publicDer = PackageTools::run(openssl(), {L"pkey", L"-in", file, L"-passin", L"pass:",
                                                      L"-pubout", L"-outform", L"DER"});
        } catch (const VtErrorBase& error) {
            VT_RAISE(tstrings::TextBuilder() << L"cannot read the key of --update-key " << file
                                             << L": " << tstrings::fromUtf8(error.bareMessage()));
        }
        if (publicDer.size() != p256Prefix.size() + 64 || publicDer.compare(0, 27, p256Prefix)) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"the key of --update-key is no ECDSA P-256 key: " << file);
        }
    }

    // r||s of the SHA-256 signature of the file's bytes.
    std::string sign(const tstring& signedFile) const {
        return UpdateMetadata::derToRaw(PackageTools::run(
            openssl(), {L"dgst", L"-sha256", L"-sign", file, L"-passin", L"pass:", signedFile}));
    }

    bool verifies(const std::string& bytes, const std::string& rawSignature,
                  const tstring& workDir) const {
        const tstring data = FileUtils::joinPath(workDir, L"signed");
        const tstring signature = FileUtils::joinPath(workDir, L"signature");
        const tstring key = FileUtils::joinPath(workDir, L"public.der");
        PackFiles::writeFile(data, bytes);
        PackFiles::writeFile(signature, UpdateMetadata::rawToDer(rawSignature));
        PackFiles::writeFile(key, publicDer);
        return PackageTools::runUnchecked(openssl(),
                                          {L"dgst", L"-sha256", L"-verify", key, L"-keyform",
                                           L"DER", L"-signature", signature, data})
                   .exitCode == 0;
    }

    // X||Y, 32 bytes each: what CNG's BCRYPT_ECCPUBLIC_BLOB holds after its header.
    std::string point() const { return publicDer.substr(p256Prefix.size()); }

private:
    tstring file;
    std::string publicDer;
};

// A URL path segment: UTF-8, every byte but the unreserved ones as %XX.
tstring urlSegment(const tstring& text) {
    tstring result;
    for (const unsigned char c : tstrings::toUtf8(text)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || tstring(L"-._~").find(c) != tstring::npos;
        result += plain ? tstring(1, c) : tstrings::format(L"%%%02X", c);
    }
    return result;
}

tstring typeName(PackageType type) {
    return type == PackageType::Msi ? L"msi" : L"zip";
}

// Relative to the site.
tstring appUrl(const PackOptions& options) {
    return L"windows/" + urlSegment(options.name) + L"/";
}

tstring metadataName(PackageType type) {
    return L"update-" + typeName(type) + L".txt";
}

struct SitePaths {
    tstring dir;
    tstring fileName;
    tstring package;
    tstring metadata;
    tstring url;
};

SitePaths sitePaths(const PackOptions& options) {
    SitePaths paths;
    paths.dir = FileUtils::PathBuilder()
                << PackFiles::normalPath(options.package.publish) << L"windows" << options.name;
    paths.fileName = PackageNames::outputName(options);
    paths.package = FileUtils::joinPath(paths.dir, paths.fileName);
    paths.metadata = FileUtils::joinPath(paths.dir, metadataName(options.package.type));
    paths.url = appUrl(options) + urlSegment(paths.fileName);
    return paths;
}

// The metadata that the site has for the application, verified with the key; sequence 0 when
// there is none.
Document newestPublished(const PackOptions& options, const UpdateKey& key, const SitePaths& paths) {
    if (!PackFiles::exists(paths.metadata)) {
        return Document();
    }
    const UpdateMetadata::Signed found =
        UpdateMetadata::parse(PackFiles::readFile(paths.metadata), paths.metadata);
    const StagingImage work(paths.dir, L"verify");
    if (!key.verifies(found.signedPart, found.rawSignature, work.root())) {
        VT_RAISE(tstrings::TextBuilder()
                 << paths.metadata << L" is not signed with the key of --update-key");
    }
    if (found.document.name != options.name) {
        VT_RAISE(tstrings::TextBuilder()
                 << paths.metadata << L" is the metadata of " << found.document.name);
    }
    return found.document;
}

// A site never goes back to an older version, nor to another with the same numbers.
void checkNewer(const PackOptions& options, const Document& newest) {
    UpdateMetadata::VersionOrder next;
    UpdateMetadata::VersionOrder last;
    const tstring version = PackageNames::versionText(options);
    if (newest.sequence == 0 || !UpdateSite::versionOrder(version, next) ||
        !UpdateSite::versionOrder(newest.version, last)) {
        return;
    }
    if (next < last || (next == last && version != newest.version)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the site's newest " << options.name << L" is " << newest.version << L": "
                 << version << L" is not newer and is not published");
    }
}

std::string sha256(const tstring& file) {
    const std::string out = PackageTools::run(openssl(), {L"dgst", L"-sha256", L"-r", file});
    return out.substr(0, 64);
}

// Puts a copy of file at target unless the same bytes are there; true when it added one.
bool placePackage(const tstring& file, const tstring& target, const tstring& workDir) {
    if (PackFiles::exists(target)) {
        if (PackFiles::readFile(target) != PackFiles::readFile(file)) {
            VT_RAISE(tstrings::TextBuilder()
                     << target << L" already exists with other contents and is not replaced");
        }
        return false;
    }
    const tstring copy = FileUtils::joinPath(workDir, FileUtils::lastComponent(target));
    PackFiles::copyFile(file, copy);
    std::error_code error;
    PackFiles::renameNoReplace(copy, target, error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot add " << target << L" to the site: " << error.message());
    }
    return true;
}

Document nextDocument(const PackOptions& options, const SitePaths& paths, const Document& newest) {
    Document next;
    next.name = options.name;
    next.type = typeName(options.package.type);
    next.version = PackageNames::versionText(options);
    UpdateMetadata::VersionOrder order;
    UpdateSite::versionOrder(next.version, order);
    next.order = UpdateMetadata::orderText(order);
    next.sequence = newest.sequence + 1;
    next.published = std::max<std::int64_t>(std::time(nullptr), newest.published);
    next.url = paths.url;
    next.size = fs::file_size(PackFiles::fsPath(paths.package));
    next.sha256 = sha256(paths.package);
    return next;
}

void writeMetadata(const UpdateKey& key, const Document& document, const SitePaths& paths,
                   const tstring& workDir) {
    const std::string signedPart = UpdateMetadata::signedPart(document);
    const tstring signedFile = FileUtils::joinPath(workDir, L"signed");
    PackFiles::writeFile(signedFile, signedPart);
    const tstring written = FileUtils::joinPath(workDir, FileUtils::lastComponent(paths.metadata));
    PackFiles::writeFile(written, UpdateMetadata::withSignature(signedPart, key.sign(signedFile)));
    std::error_code error;
    fs::rename(PackFiles::fsPath(written), PackFiles::fsPath(paths.metadata), error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"cannot write " << paths.metadata << L": " << error.message());
    }
}

void checkValues(const PackageOptions& package,
                 const std::function<bool(const PackOption&)>& given) {
    const std::pair<const PackOption*, const tstring*> values[] = {
        {&PackOpt::publish, &package.publish},
        {&PackOpt::updateKey, &package.updateKey},
        {&PackOpt::updateUrl, &package.updateUrl},
        {&PackOpt::updateCheck, &package.updateCheck},
        {&PackOpt::updateMode, &package.updateMode}};
    for (const auto& value : values) {
        if (given(*value.first) && value.second->empty()) {
            usageError(tstrings::TextBuilder() << value.first->name << L" needs a value");
        }
    }
}

void checkCombinations(PackageType type, const std::function<bool(const PackOption&)>& given) {
    if (given(PackOpt::updateKey) && !isWindowsPackage(type)) {
        usageError("--update-key: only with --type msi or zip");
    }
    if (given(PackOpt::publish) && isWindowsPackage(type) && !given(PackOpt::updateKey)) {
        usageError("--publish with --type msi or zip needs --update-key");
    }
    if (given(PackOpt::updateKey) && !given(PackOpt::publish) && !given(PackOpt::updateUrl)) {
        usageError("--update-key needs --publish or --update-url");
    }
    // The launcher's updates run the installer.
    if (given(PackOpt::updateUrl) && type != PackageType::Msi) {
        usageError("--update-url: only with --type msi");
    }
    if (given(PackOpt::updateUrl) && !given(PackOpt::updateKey)) {
        usageError("--update-url needs --update-key");
    }
    for (const PackOption* option : {&PackOpt::updateCheck, &PackOpt::updateMode}) {
        if (given(*option) && !given(PackOpt::updateUrl)) {
            usageError(tstrings::TextBuilder() << option->name << L" needs --update-url");
        }
    }
}

// One of choices; the first when none is given.
tstring choice(const PackOption& option, const tstring& value,
               std::initializer_list<const wchar_t*> choices) {
    if (value.empty()) {
        return *choices.begin();
    }
    tstring names;
    for (const wchar_t* name : choices) {
        if (value == name) {
            return value;
        }
        names += (names.empty() ? L"" : L", ") + tstring(name);
    }
    usageError(tstrings::TextBuilder()
               << option.name << L" must be one of " << names << L": \"" << value << L"\"");
}

tstring lowerAscii(tstring text) {
    for (wchar_t& c : text) {
        c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    return text;
}

// https://HOST[:PORT][/PATH], or http to a loopback host, which no one else can answer; no
// user name or password, which would lie in the configuration for all to read. Ends with '/',
// so that the metadata's relative URLs resolve below it.
tstring checkedUrl(const tstring& url) {
    const std::size_t schemeEnd = url.find(L"://");
    const tstring scheme = lowerAscii(url.substr(0, schemeEnd));
    const std::size_t hostStart = schemeEnd == tstring::npos ? 0 : schemeEnd + 3;
    const std::size_t hostEnd = std::min(url.find_first_of(L"/?#", hostStart), url.size());
    const tstring authority = lowerAscii(url.substr(hostStart, hostEnd - hostStart));
    const tstring host = authority.substr(0, authority.rfind(L':'));
    const tstring port = authority.substr(std::min(host.size() + 1, authority.size()));
    bool usable = schemeEnd != tstring::npos && !host.empty() &&
                  authority.find(L'@') == tstring::npos &&
                  port.find_first_not_of(L"0123456789") == tstring::npos &&
                  (scheme == L"https" ||
                   (scheme == L"http" && (host == L"127.0.0.1" || host == L"localhost")));
    for (const wchar_t c : url) {
        usable = usable && c > 0x20 && c < 0x7F;
    }
    if (!usable) {
        usageError(tstrings::TextBuilder()
                   << L"--update-url must be https://HOST/PATH (http only to 127.0.0.1 or "
                      L"localhost), ASCII without spaces or a user name: \""
                   << url << L"\"");
    }
    return url.back() == L'/' ? url : url + L'/';
}

} // namespace

namespace UpdateSite {

void resolveOptions(PackOptions& options, const std::function<bool(const PackOption&)>& given) {
    PackageOptions& package = options.package;
    checkValues(package, given);
    checkCombinations(package.type, given);
    if (given(PackOpt::updateUrl)) {
        package.updateUrl = checkedUrl(package.updateUrl);
        package.updateMetadata = appUrl(options) + metadataName(package.type);
    }
    package.updateCheck = choice(PackOpt::updateCheck, package.updateCheck,
                                 {L"daily", L"every-start", L"weekly", L"never"});
    package.updateMode = choice(PackOpt::updateMode, package.updateMode, {L"ask", L"auto"});
    UpdateMetadata::VersionOrder order;
    const tstring version = PackageNames::versionText(options);
    if ((asked(options) || given(PackOpt::updateUrl)) &&
        !UpdateSite::versionOrder(version, order)) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version must start with A[.B[.C]] for updates, A and B up to "
                      L"255, C up to 65535: \""
                   << version << L"\"");
    }
}

tstring publicKey(const PackOptions& options) {
    if (options.package.updateUrl.empty()) {
        return tstring();
    }
    return tstrings::fromUtf8(UpdateMetadata::hex(UpdateKey(options.package.updateKey).point()));
}

void check(const PackOptions& options) {
    if (!asked(options)) {
        return;
    }
    const UpdateKey key(options.package.updateKey);
    checkNewer(options, newestPublished(options, key, sitePaths(options)));
}

void publish(const PackOptions& options, const tstring& file) {
    if (!asked(options)) {
        return;
    }
    const UpdateKey key(options.package.updateKey);
    const SitePaths paths = sitePaths(options);
    // Makes the folders that are missing, and removes them again when they stay empty.
    const StagingImage work(paths.dir, L"publish");
    const Document newest = newestPublished(options, key, paths);
    checkNewer(options, newest);
    bool added = placePackage(file, paths.package, work.root());
    const AtEndOfScope undo([&] {
        std::error_code ignored;
        if (added) {
            fs::remove(PackFiles::fsPath(paths.package), ignored);
        }
    });
    writeMetadata(key, nextDocument(options, paths, newest), paths, work.root());
    added = false;
}

} // namespace UpdateSite
