#ifndef VANTREL_PACKAGETOOLS_H
#define VANTREL_PACKAGETOOLS_H

#include <functional>
#include <string>

#include "PackHost.h"
#include "tstrings.h"

// The system's tools that make packages: found on PATH, run to their end.
namespace PackageTools {

// The tool's absolute path from PATH; raises "TOOL is needed for PURPOSE and is not installed
// (Debian package PKG)" when it is not there.
tstring find(const tstring& tool, const tstring& purpose, const tstring& debianPackage);

// Runs program with args and returns its standard output; a failure raises with the tool's
// first line. With dir, it runs there (through /bin/sh, so for the tools that run on Linux
// only: wixl and dpkg-shlibdeps take paths relative to their working folder).
std::string run(const tstring& program, const tstring_array& args, const tstring& dir = tstring());
// As run, with the tool's result whatever it is (an interrupt still raises).
PackHost::ProcessResult runUnchecked(const tstring& program, const tstring_array& args,
                                     const tstring& dir = tstring());
// The tool's output; raises as run does when it failed.
std::string checkedOutput(const tstring& program, const PackHost::ProcessResult& result);
// As run, with secret readable at the path that makeArgs puts on the command line (PackHost).
std::string runWithSecret(const tstring& program, const std::string& secret,
                          const std::function<tstring_array(const tstring&)>& makeArgs);

} // namespace PackageTools

#endif
