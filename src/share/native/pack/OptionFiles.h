#ifndef VANTREL_OPTIONFILES_H
#define VANTREL_OPTIONFILES_H

#include <string>

#include "tstrings.h"

// Options kept in files, as Java's tools take them: "@FILE" on the command line stands for
// the arguments that FILE holds.
namespace OptionFiles {

// The command line with every "@FILE" replaced by the arguments in FILE; "@@TEXT" is the
// argument "@TEXT". A file that can't be read, or is not UTF-8, is a one-line usage error.
tstring_array expand(const tstring_array& args);

// The arguments of a file's text: separated by white space, one or more a line; '...' or "..."
// keep white space (backslash escapes \n \t \r \f \\ \" \' inside them, and a backslash at the
// line's end goes on with the next line); '#' before an argument starts a comment to the line's
// end. fileName is for the refusals.
tstring_array parse(const std::string& text, const tstring& fileName);

} // namespace OptionFiles

#endif
