#ifndef VANTREL_JARMANIFEST_H
#define VANTREL_JARMANIFEST_H

#include <string>

#include "tstrings.h"

namespace JarManifest {

// The jar's manifest, or empty text when it has none. Raises when the file can't be read as a
// jar.
std::string read(const tstring& jarPath);

// Any entry of a jar, or of a jmod (a jar behind a header), up to 16 MiB uncompressed; empty
// text when there is no such entry. Raises when the file can't be read as a jar.
std::string readEntry(const tstring& jarPath, const std::string& name);

// The "Main-Class" of the jar's manifest, or empty text when it has none. Raises when the
// file can't be read as a jar.
tstring readMainClass(const tstring& jarPath);
tstring mainClassOf(const std::string& manifest);

// The files that the "Class-Path" of a manifest names, relative to the jar's directory.
tstring_array classPathOf(const tstring& jarDir, const std::string& manifest);

} // namespace JarManifest

#endif
