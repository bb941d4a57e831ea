#ifndef VANTREL_LINUXPACKAGETREE_H
#define VANTREL_LINUXPACKAGETREE_H

#include <filesystem>
#include <string>

#include "tstrings.h"

struct PackOptions;

// What a Linux package installs, whatever its format: the image under /opt/PKG, /usr/bin/PKG
// linking to its launcher, and the desktop's entries with the icon.
namespace LinuxPackageTree {

// Before anything is written: the icon exists and has a PNG image.
void checkIcon(const PackOptions& options);

// Moves the image at imageDir into root as root/opt/PKG and adds the rest: /usr/bin/PKG and
// /usr/bin/PKG-name link to the launchers in linkedImage, /opt/PKG as each format's rules
// reach it (absolute for Debian, relative for rpm); the desktop's entries, types and icons.
void layOut(const PackOptions& options, const tstring& imageDir, const std::filesystem::path& root,
            const std::filesystem::path& linkedImage);

// Modes as packages carry them, whatever the umask: folders (the root's included) and programs
// 0755, other files 0644. With SOURCE_DATE_EPOCH, every entry's time is exactly it, so that
// files older than the epoch, or all of them when it lies ahead, don't keep their own.
void normalizeEntries(const std::filesystem::path& root);

void makeFolders(const std::filesystem::path& dir);

} // namespace LinuxPackageTree

#endif
