#ifndef VANTREL_DESKTOPOPTIONS_H
#define VANTREL_DESKTOPOPTIONS_H

#include <vector>

#include "tstrings.h"

struct PackOptions;

// A kind of file that the installed application opens: --file-type EXT:MIME[:DESCRIPTION].
struct FileType {
    tstring extension; // without its dot, as given
    tstring mimeType;  // lower case
    tstring description;
};

// --add-launcher NAME:MAINCLASS[:gui]: one more launcher in the image, with app/NAME.cfg.
struct ExtraLauncher {
    tstring name;
    tstring mainClass;
    bool gui = false;
};

struct DesktopOptions {
    std::vector<FileType> fileTypes;
    tstring_array urlSchemes; // lower case
    std::vector<ExtraLauncher> launchers;
};

// Checks the values of --file-type, --url-scheme and --add-launcher against each other and the
// options resolved before; a refusal is one line (a UsageError without the usage).
void resolveDesktopOptions(PackOptions& options, const tstring_array& fileTypes,
                           const tstring_array& urlSchemes, const tstring_array& launchers);

namespace DesktopNames {
// The command of an extra launcher in a Debian package: PKG-name, made as PKG is.
tstring linuxCommand(const tstring& packageName, const tstring& launcherName);
// The description of a file type, or the default one.
tstring fileTypeDescription(const PackOptions& options, const FileType& type);
} // namespace DesktopNames

#endif
