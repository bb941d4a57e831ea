#ifndef VANTREL_RUNTIMERELEASE_H
#define VANTREL_RUNTIMERELEASE_H

#include <string>

#include "tstrings.h"

// A Java runtime's "release" file: what the launcher and the tool learn of a runtime without
// running it.
namespace RuntimeRelease {

// The text of the runtime's "release" file; empty when it has none.
std::string read(const tstring& runtimeDir);
// The feature version from the text of a "release" file ("1.8.0" is 8); 0 when unknown.
int featureVersion(const std::string& releaseText);
// The value of one "NAME=..." line, without its quotes; empty when there is none.
std::string property(const std::string& releaseText, const std::string& name);

} // namespace RuntimeRelease

#endif
