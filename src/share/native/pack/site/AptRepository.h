#ifndef VANTREL_APTREPOSITORY_H
#define VANTREL_APTREPOSITORY_H

#include "tstrings.h"

struct PackOptions;

// The apt repository SITE/apt of a release site: suite stable, component main, made with
// apt-ftparchive and signed with gpg (InRelease, Release.gpg), the public key as KEY.gpg.
namespace AptRepository {

// What publishing will need, checked before anything is built: the tools, exactly one secret
// key for --apt-signing-key, the same key as the site's, and a version not yet in the site.
void check(const PackOptions& options);
// Adds deb to the repository. The new state is made in a hidden sibling of SITE/apt and swapped
// in whole: readers see the old repository or the new one, and a failure changes nothing.
void publish(const PackOptions& options, const tstring& deb);

} // namespace AptRepository

#endif
