#ifndef VANTREL_RELEASESITE_H
#define VANTREL_RELEASESITE_H

#include "tstrings.h"

struct PackOptions;

// --publish SITE: the folder that users upload to a static web server, holding every
// published version. Each package type has its part of it.
namespace ReleaseSite {

// Raises, before anything is built, what would make publishing fail.
void check(const PackOptions& options);
// Adds the package file, written and in place, to the site.
void publish(const PackOptions& options, const tstring& packageFile);

} // namespace ReleaseSite

#endif
