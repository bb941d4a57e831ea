#ifndef VANTREL_CLASSPATHFILES_H
#define VANTREL_CLASSPATHFILES_H

#include "tstrings.h"

// The files an application's class path brings, found as the runtime finds them.
namespace ClassPathFiles {

// "DIR/*" (or "*"): every jar directly in DIR, as java -cp takes it.
bool isWildcard(const tstring& entry);

// Class path entries (relative to input) with each wildcard replaced by the .jar and .JAR files
// directly in its folder, sorted by name; entries that are the main jar go. Raises for an entry,
// or a wildcard's folder, that is not in the input. emptyWildcards gets the wildcards that
// found no jar.
tstring_array expand(const tstring& input, const tstring_array& entries, const tstring& mainJar,
                     tstring_array& emptyWildcards);

// The files given (absolute, in input) and, transitively, those that their manifests'
// "Class-Path" names, relative to each jar's folder; only what the input holds, since the
// image holds nothing else, and each file once.
tstring_array withManifestClassPaths(const tstring& input, const tstring_array& files);

} // namespace ClassPathFiles

#endif
