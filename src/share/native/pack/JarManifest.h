#ifndef VANTREL_JARMANIFEST_H
#define VANTREL_JARMANIFEST_H

#include <string>

#include "tstrings.h"

namespace JarManifest {

// The "Main-Class" of the jar's manifest, or empty text when it has none. Raises when the
// file can't be read as a jar.
tstring readMainClass(const tstring& jarPath);

// The "Main-Class" among the main attributes of a manifest's text.
tstring mainClassOf(const std::string& manifest);

} // namespace JarManifest

#endif
