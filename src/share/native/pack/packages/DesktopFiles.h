#ifndef VANTREL_DESKTOPFILES_H
#define VANTREL_DESKTOPFILES_H

#include <string>
#include <utility>
#include <vector>

#include "tstrings.h"

struct PackOptions;

// What a Linux package installs for the desktop (freedesktop Desktop Entry and shared MIME
// info): the menu entries, the types of files and links the application opens.
namespace DesktopFiles {

// A file that the package installs: its path below /usr/share and its text.
typedef std::pair<tstring, std::string> File;

// The desktop entries for an image installed in imageDir (/opt/PKG): the application's
// (with --desktop-entry, which file types and link schemes imply; it opens the files, %f),
// a hidden one that opens the links (%u: a link is no file path), and one for each extra
// launcher with ":gui". iconName: of the icon theme, empty for none.
std::vector<File> entries(const PackOptions& options, const tstring& imageDir,
                          const tstring& iconName);

// mime/packages/PKG.xml, which declares the file types with their globs; none without file
// types. The desktop's database takes it in through the package manager's triggers.
std::vector<File> mimeInfo(const PackOptions& options);

} // namespace DesktopFiles

#endif
