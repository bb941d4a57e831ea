#ifndef VANTREL_LINUXPACKAGETREE_H
#define VANTREL_LINUXPACKAGETREE_H

#include <filesystem>
#include <string>

#include "tstrings.h"

struct PackOptions;

// What a Linux package installs, whatever its format: the image under /opt/PKG, /usr/bin/PKG
// linking to its launcher, and with --desktop-entry a menu entry with the icon.
namespace LinuxPackageTree {

// Before anything is written: the icon exists and has a PNG image.
void checkIcon(const PackOptions& options);

// The desktop entry's text; iconName empty for none.
std::string desktopEntry(const PackOptions& options, const tstring& iconName);

// Moves the image at imageDir into root as root/opt/PKG and adds the rest. /usr/bin/PKG links
// to launcherLink, which each format's rules choose (absolute for Debian, relative for rpm).
void layOut(const PackOptions& options, const tstring& imageDir, const std::filesystem::path& root,
            const std::filesystem::path& launcherLink);

// Modes as packages carry them, whatever the umask: folders (the root's included) and programs
// 0755, other files 0644. With SOURCE_DATE_EPOCH, every entry's time is exactly it, so that
// files older than the epoch, or all of them when it lies ahead, don't keep their own.
void normalizeEntries(const std::filesystem::path& root);

void makeFolders(const std::filesystem::path& dir);

} // namespace LinuxPackageTree

#endif
