#ifndef VANTREL_PACKAGEOPTIONS_H
#define VANTREL_PACKAGEOPTIONS_H

#include <functional>

#include "tstrings.h"

struct PackOptions;
struct PackOption;

// What is made of the image: the image itself, or a file to hand to users.
enum class PackageType { Image, Msi, Deb, Rpm, Zip };

struct PackageOptions {
    PackageType type = PackageType::Image;
    bool perUser = false;
    bool desktopShortcut = false;
    tstring upgradeCode;      // resolved: the given one, else derived from vendor and name
    tstring linuxPackageName; // resolved: the given one, else derived from the name
    tstring maintainer;
    bool desktopEntry = false;
    tstring signPkcs12;
    tstring signPasswordEnv;
    tstring timestampUrl;
    // The release site
    tstring publish;
    tstring aptSigningKey; // a gpg key id, for a deb's site
    tstring updateKey;
    tstring updateUrl;       // resolved: ends with '/'
    tstring updateCheck;     // resolved: the default when not given
    tstring updateMode;      // resolved: the default when not given
    tstring updateMetadata;  // resolved: its URL relative to --update-url
    tstring updatePublicKey; // hex of the key's X and Y, found before building
};

// deb and rpm: a package for Linux that installs the image under /opt.
bool isLinuxPackage(PackageType type);

// Null for an unknown --type text.
const PackageType* findPackageType(const tstring& text);

// Checks the package options against the type and target and fills in the derived values;
// raises a UsageError. given tells whether an option was on the command line.
void resolvePackageOptions(PackOptions& options,
                           const std::function<bool(const PackOption&)>& given);

// Whether the resource options (--icon, --vendor, ...) mean something for a Linux target
// with this package type: they describe the package.
bool linuxPackageTakesResources(const PackOptions& options);

namespace PackageNames {

// The --app-version text, or the default version.
tstring versionText(const PackOptions& options);
// NAME for an image, else NAME-VERSION.msi, PKG_VERSION_ARCH.deb, PKG-VERSION-1.ARCH.rpm or
// NAME-VERSION.zip.
tstring outputName(const PackOptions& options);

// Lower case, with every character that Debian refuses in a package name made '-'; empty
// when even that is no valid name.
tstring debianPackageName(const tstring& name);
bool isDebianPackageName(const tstring& name);
// A version text made valid for Debian: a hyphen starts a pre-release (1.2.3-SNAPSHOT ->
// 1.2.3~SNAPSHOT, which sorts before 1.2.3), other refused characters become '.'; empty when
// the text does not start with a digit.
tstring debianVersion(const tstring& version);
// The Debian version, which rpm takes as well unless it holds "..": empty then.
tstring rpmVersion(const tstring& version);
// The leading numbers A[.B[.C[.D]]] as A.B.C[.D], within what Windows Installer takes (A and B
// up to 255, C and D up to 65535; it compares A.B.C); empty when the text has no leading number
// or exceeds them.
tstring msiProductVersion(const tstring& version);
// A name-based UUID (version 8, our own hash): stable for the same text.
tstring nameBasedUuid(const tstring& text);
bool isUuid(const tstring& text);

} // namespace PackageNames

#endif
