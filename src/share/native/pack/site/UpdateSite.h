#ifndef VANTREL_UPDATESITE_H
#define VANTREL_UPDATESITE_H

#include <functional>

#include "UpdateMetadata.h"
#include "tstrings.h"

struct PackOptions;
struct PackOption;

// The Windows packages (msi, zip) of a release site: SITE/windows/NAME/ holds every version
// published and update-TYPE.txt, the signed metadata naming the newest (UpdateMetadata).
namespace UpdateSite {

// The four numbers that the installer's version gives (A.B.C, what Windows Installer compares,
// then D); false when the text has none.
bool versionOrder(const tstring& version, UpdateMetadata::VersionOrder& order);
// Usage errors of --publish and the --update-* options, from the command line alone; fills in
// their defaults.
void resolveOptions(PackOptions& options, const std::function<bool(const PackOption&)>& given);
// The public key of --update-key as the launcher's configuration holds it, when it needs one.
tstring publicKey(const PackOptions& options);
// Before anything is built: openssl is there, the key is ECDSA P-256, and the site takes this
// version (its metadata verifies with the key and names no newer one).
void check(const PackOptions& options);
// Adds the finished package at file to the site, then the metadata naming it; a failure
// leaves the site as it was.
void publish(const PackOptions& options, const tstring& file);

} // namespace UpdateSite

#endif
