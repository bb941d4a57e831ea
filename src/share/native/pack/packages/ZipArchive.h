#ifndef VANTREL_ZIPARCHIVE_H
#define VANTREL_ZIPARCHIVE_H

#include <cstdint>

#include "tstrings.h"

namespace ZipArchive {

// Writes the tree at dir into a new zip file at zipPath, below one folder topName/. The
// entries are sorted, carry time (seconds since 1970, UTC) and Unix modes normalized to 0755
// and 0644, so the same tree always gives the same bytes.
void write(const tstring& dir, const tstring& topName, std::int64_t time, const tstring& zipPath);

} // namespace ZipArchive

#endif
