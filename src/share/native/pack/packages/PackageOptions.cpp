#include "PackageOptions.h"

#include <cstdint>

#include "PackOptions.h"
#include "UpdateSite.h"

namespace {

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool isLowerAlnum(wchar_t c) {
    return isDigit(c) || (c >= L'a' && c <= L'z');
}

// Options that mean something for some package types only.
void checkOnlyWith(bool allowed, const wchar_t* typeName,
                   std::initializer_list<const PackOption*> options,
                   const std::function<bool(const PackOption&)>& given) {
    for (const PackOption* option : options) {
        if (given(*option) && !allowed) {
            usageError(tstrings::TextBuilder()
                       << option->name << L": only with --type " << typeName);
        }
    }
}

void checkTarget(const PackOptions& options) {
    const PackageType type = options.package.type;
    if (type == PackageType::Msi && !options.target->windows) {
        usageError("--type msi needs a Windows target (--target windows or windows-gui)");
    }
    if (isLinuxPackage(type) && options.target->windows) {
        usageError(tstrings::TextBuilder()
                   << L"--type " << (type == PackageType::Deb ? L"deb" : L"rpm")
                   << L" needs the linux target");
    }
}

void resolveUpgradeCode(PackOptions& options, bool givenCode) {
    PackageOptions& package = options.package;
    if (!givenCode) {
        package.upgradeCode = PackageNames::nameBasedUuid(
            L"upgrade code\n" + options.resources.vendor + L"\n" + options.name);
        return;
    }
    if (!PackageNames::isUuid(package.upgradeCode)) {
        usageError(tstrings::TextBuilder() << L"--upgrade-code must be a UUID such as "
                                              L"12345678-9abc-def0-1234-56789abcdef0: \""
                                           << package.upgradeCode << L"\"");
    }
    for (wchar_t& c : package.upgradeCode) {
        c = (c >= L'a' && c <= L'f') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
}

void resolveLinuxPackageName(PackOptions& options, bool givenName) {
    tstring& packageName = options.package.linuxPackageName;
    if (givenName && !PackageNames::isDebianPackageName(packageName)) {
        usageError(tstrings::TextBuilder()
                   << L"--linux-package-name must be lower-case letters, digits and + - . "
                      L"starting with a letter or digit, two characters or more: \""
                   << packageName << L"\"");
    }
    if (!givenName) {
        packageName = PackageNames::debianPackageName(options.name);
        if (packageName.empty()) {
            usageError(tstrings::TextBuilder()
                       << L"the name \"" << options.name << L"\" makes no "
                       << (options.package.type == PackageType::Deb ? L"Debian" : L"rpm")
                       << L" package name: give --linux-package-name");
        }
    }
}

void checkVersion(const PackOptions& options) {
    const tstring version = PackageNames::versionText(options);
    if (options.package.type == PackageType::Deb && PackageNames::debianVersion(version).empty()) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version must start with a digit for a Debian package: \"" << version
                   << L"\"");
    }
    if (options.package.type == PackageType::Rpm && PackageNames::rpmVersion(version).empty()) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version must start with a digit and hold no \"..\" for an rpm "
                      L"package: \""
                   << version << L"\"");
    }
    if (options.package.type == PackageType::Msi &&
        PackageNames::msiProductVersion(version).empty()) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version must start with A[.B[.C]] for an installer, A and B up to "
                      L"255, C up to 65535: \""
                   << version << L"\"");
    }
}

void checkSigning(const PackOptions& options, const std::function<bool(const PackOption&)>& given) {
    const PackageOptions& package = options.package;
    if (given(PackOpt::signPkcs12) && !options.target->windows) {
        usageError("--sign-pkcs12: only for the Windows targets");
    }
    for (const PackOption* option : {&PackOpt::signPasswordEnv, &PackOpt::timestampUrl}) {
        if (given(*option) && !given(PackOpt::signPkcs12)) {
            usageError(tstrings::TextBuilder() << option->name << L" needs --sign-pkcs12");
        }
    }
    const std::pair<const PackOption*, const tstring*> values[] = {
        {&PackOpt::signPkcs12, &package.signPkcs12},
        {&PackOpt::signPasswordEnv, &package.signPasswordEnv},
        {&PackOpt::timestampUrl, &package.timestampUrl},
        {&PackOpt::maintainer, &package.maintainer},
        {&PackOpt::publish, &package.publish},
        {&PackOpt::aptSigningKey, &package.aptSigningKey}};
    for (const auto& value : values) {
        if (given(*value.first) && value.second->empty()) {
            usageError(tstrings::TextBuilder() << value.first->name << L" needs a value");
        }
    }
}

// Publishing needs a package and the key that signs the site, both known before anything is
// built.
void checkPublish(const PackOptions& options, const std::function<bool(const PackOption&)>& given) {
    const PackageType type = options.package.type;
    if (given(PackOpt::aptSigningKey) && !given(PackOpt::publish)) {
        usageError("--apt-signing-key needs --publish");
    }
    if (!given(PackOpt::publish)) {
        return;
    }
    if (type == PackageType::Image) {
        usageError("--publish needs a package: --type msi, deb or zip");
    }
    // No release site takes rpm packages yet.
    checkOnlyWith(type != PackageType::Rpm, L"msi, deb or zip", {&PackOpt::publish}, given);
    checkOnlyWith(type == PackageType::Deb, L"deb", {&PackOpt::aptSigningKey}, given);
    if (type == PackageType::Deb && options.package.aptSigningKey.empty()) {
        usageError("--publish with --type deb needs --apt-signing-key KEYID");
    }
    // The repository lists amd64 packages alone so far.
    if (type == PackageType::Deb && options.target->runsWhere(PackTargets::linuxArm64)) {
        usageError("--publish takes amd64 packages only, not those for linux-aarch64");
    }
}

// A package's control file, desktop entry and installer database hold these texts as they are:
// a tab or an escape there is another format's syntax, or nothing a user can see.
void checkTexts(const PackOptions& options) {
    if (options.package.type != PackageType::Msi && !isLinuxPackage(options.package.type)) {
        return;
    }
    const WindowsResources& resources = options.resources;
    const std::pair<const PackOption*, const tstring*> texts[] = {
        {&PackOpt::vendor, &resources.vendor},
        {&PackOpt::description, &resources.description},
        {&PackOpt::copyright, &resources.copyright},
        {&PackOpt::appVersion, &resources.appVersion},
        {&PackOpt::maintainer, &options.package.maintainer}};
    for (const auto& text : texts) {
        for (const wchar_t c : *text.second) {
            if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
                usageError(tstrings::TextBuilder()
                           << text.first->name
                           << tstrings::format(L" takes no control character (0x%02X)",
                                               static_cast<unsigned>(c)));
            }
        }
    }
}

// rpmbuild's recipe takes a description line that starts with # for a comment, and one with % for a
// new section: such a text can't reach the package.
void checkRpmDescription(const PackOptions& options) {
    const tstring& description = options.resources.description;
    const tstring& text = description.empty() ? options.name : description;
    const std::size_t start = text.find_first_not_of(L' ');
    if (start == tstring::npos || (text[start] != L'#' && text[start] != L'%')) {
        return;
    }
    if (description.empty()) {
        usageError(tstrings::TextBuilder()
                   << L"the name \"" << text
                   << L"\" starts with # or %, which an rpm package's description can't: give "
                      L"--description");
    }
    usageError(tstrings::TextBuilder()
               << L"--description must not start with # or % for an rpm package: \"" << text
               << L"\"");
}

// FNV-1a over the UTF-8 bytes from a chosen start, then mixed so that every bit counts.
std::uint64_t hash64(const std::string& bytes, std::uint64_t state) {
    for (const unsigned char c : bytes) {
        state = (state ^ c) * 0x100000001b3ull;
    }
    state = (state ^ (state >> 30)) * 0xbf58476d1ce4e5b9ull;
    state = (state ^ (state >> 27)) * 0x94d049bb133111ebull;
    return state ^ (state >> 31);
}

} // namespace

bool isLinuxPackage(PackageType type) {
    return type == PackageType::Deb || type == PackageType::Rpm;
}

const PackageType* findPackageType(const tstring& text) {
    static const std::pair<const wchar_t*, PackageType> types[] = {{L"image", PackageType::Image},
                                                                   {L"msi", PackageType::Msi},
                                                                   {L"deb", PackageType::Deb},
                                                                   {L"rpm", PackageType::Rpm},
                                                                   {L"zip", PackageType::Zip}};
    for (const auto& type : types) {
        if (text == type.first) {
            return &type.second;
        }
    }
    return nullptr;
}

void resolvePackageOptions(PackOptions& options,
                           const std::function<bool(const PackOption&)>& given) {
    const PackageType type = options.package.type;
    checkTarget(options);
    // Only an image bears the mark that tells a result of this tool from anything else.
    checkOnlyWith(type == PackageType::Image, L"image", {&PackOpt::replace}, given);
    checkOnlyWith(type == PackageType::Msi, L"msi",
                  {&PackOpt::perUser, &PackOpt::desktopShortcut, &PackOpt::upgradeCode}, given);
    checkOnlyWith(isLinuxPackage(type), L"deb or rpm",
                  {&PackOpt::linuxPackageName, &PackOpt::maintainer, &PackOpt::desktopEntry},
                  given);
    checkSigning(options, given);
    checkPublish(options, given);
    UpdateSite::resolveOptions(options, given);
    checkTexts(options);
    if (type == PackageType::Rpm) {
        checkRpmDescription(options);
    }
    checkVersion(options);
    if (type == PackageType::Msi) {
        resolveUpgradeCode(options, given(PackOpt::upgradeCode));
    }
    if (isLinuxPackage(type)) {
        resolveLinuxPackageName(options, given(PackOpt::linuxPackageName));
    }
}

bool linuxPackageTakesResources(const PackOptions& options) {
    const WindowsResources& resources = options.resources;
    switch (options.package.type) {
    case PackageType::Deb:
    case PackageType::Rpm:
        return resources.copyright.empty();
    case PackageType::Zip:
        return resources.givenOptions() == L"--app-version";
    default:
        return false;
    }
}

namespace PackageNames {

tstring versionText(const PackOptions& options) {
    return options.resources.appVersion.empty() ? L"1.0" : options.resources.appVersion;
}

tstring outputName(const PackOptions& options) {
    const tstring version = versionText(options);
    switch (options.package.type) {
    case PackageType::Msi:
        return options.name + L"-" + version + L".msi";
    case PackageType::Deb:
        return options.package.linuxPackageName + L"_" + debianVersion(version) + L"_" +
               options.target->debianArch + L".deb";
    case PackageType::Rpm:
        return options.package.linuxPackageName + L"-" + rpmVersion(version) + L"-1." +
               options.target->rpmArch + L".rpm";
    case PackageType::Zip:
        return options.name + L"-" + version + L".zip";
    default:
        return options.name;
    }
}

tstring debianPackageName(const tstring& name) {
    tstring result;
    for (const wchar_t c : tstrings::toLower(name)) {
        result += isLowerAlnum(c) || c == L'+' || c == L'.' || c == L'-' ? c : L'-';
    }
    return isDebianPackageName(result) ? result : tstring();
}

bool isDebianPackageName(const tstring& name) {
    bool valid = name.size() >= 2 && isLowerAlnum(name[0]);
    for (const wchar_t c : name) {
        valid = valid && (isLowerAlnum(c) || c == L'+' || c == L'.' || c == L'-');
    }
    return valid;
}

tstring debianVersion(const tstring& version) {
    if (version.empty() || !isDigit(version[0])) {
        return tstring();
    }
    tstring result;
    for (const wchar_t c : version) {
        const bool kept =
            isLowerAlnum(c) || (c >= L'A' && c <= L'Z') || c == L'.' || c == L'+' || c == L'~';
        result += kept ? c : (c == L'-' ? L'~' : L'.');
    }
    return result;
}

tstring rpmVersion(const tstring& version) {
    const tstring result = debianVersion(version);
    return result.find(L"..") == tstring::npos ? result : tstring();
}

tstring msiProductVersion(const tstring& version) {
    const unsigned long limits[] = {255, 255, 65535, 65535};
    unsigned long parts[] = {0, 0, 0, 0};
    if (version.empty() || !isDigit(version[0])) {
        return tstring();
    }
    std::size_t pos = 0;
    std::size_t count = 0;
    for (; count < 4; ++count) {
        // The numbers end at anything but ".digit": 1.2-SNAPSHOT gives 1.2.0.
        if (count > 0) {
            if (pos + 1 >= version.size() || version[pos] != L'.' || !isDigit(version[pos + 1])) {
                break;
            }
            ++pos;
        }
        for (; pos < version.size() && isDigit(version[pos]); ++pos) {
            parts[count] = parts[count] * 10 + static_cast<unsigned long>(version[pos] - L'0');
            if (parts[count] > limits[count]) {
                return tstring();
            }
        }
    }
    const tstring three = tstrings::format(L"%lu.%lu.%lu", parts[0], parts[1], parts[2]);
    return count == 4 ? three + tstrings::format(L".%lu", parts[3]) : three;
}

tstring nameBasedUuid(const tstring& text) {
    const std::string bytes = tstrings::toUtf8(text);
    std::uint64_t high = hash64(bytes, 0xcbf29ce484222325ull);
    std::uint64_t low = hash64(bytes, 0x84222325cbf29ce4ull);
    high = (high & ~0xf000ull) | 0x8000ull; // version 8: a custom UUID
    low = (low & ~(3ull << 62)) | (2ull << 62);
    return tstrings::format(L"%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                            static_cast<unsigned>((high >> 16) & 0xffff),
                            static_cast<unsigned>(high & 0xffff), static_cast<unsigned>(low >> 48),
                            static_cast<unsigned long long>(low & 0xffffffffffffull));
}

bool isUuid(const tstring& text) {
    bool valid = text.size() == 36;
    for (std::size_t i = 0; valid && i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool hex = isDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        valid = (i == 8 || i == 13 || i == 18 || i == 23) ? c == L'-' : hex;
    }
    return valid;
}

} // namespace PackageNames
