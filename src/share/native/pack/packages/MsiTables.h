#ifndef VANTREL_MSITABLES_H
#define VANTREL_MSITABLES_H

#include <map>
#include <string>

#include "tstrings.h"

// The database that wixl writes, finished with msitools' msiinfo and msibuild.
namespace MsiTables {

// Our texts as they go into the WiX source: tokens of letters and digits, which neither wixl's
// preprocessor ($(env.X), <?...?>) nor its conversion to a code page touches. finish() puts the
// texts in their place.
class Texts {
public:
    std::string plain(const tstring& text);
    // For a formatted column (a shortcut's target, a registry key, a message): [ ] { } stay
    // characters instead of naming properties and files.
    std::string formatted(const tstring& text);

    // Each token in text replaced by what it stands for.
    std::string replaced(const std::string& text) const;
    bool allAscii() const;

private:
    std::string token(const std::string& replacement);

    std::map<std::string, std::string> byToken;
    std::map<std::string, std::string> byText;
};

// Raises when msiinfo or msibuild is missing.
void checkTools();

// Puts the texts into every table of the installer at msiFile (the summary included), with
// UTF-8 as the database's code page when one is outside ASCII, and lets a package of the same
// version replace the one installed. Checks that the database holds what was written; workDir
// takes the tables' text files.
void finish(const tstring& msiFile, const Texts& texts, const tstring& workDir);

} // namespace MsiTables

#endif
