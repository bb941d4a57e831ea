#ifndef VANTREL_ICONPNG_H
#define VANTREL_ICONPNG_H

#include <cstdint>
#include <map>
#include <string>

#include "tstrings.h"

// The square PNG images of an icon file by their size, as the freedesktop icon theme takes
// them: a .png as it is; of an .ico, its PNG images and its 32-bit BMP images converted (other
// BMP depths are left out). Raises when none remains.
std::map<std::uint32_t, std::string> pngIconsBySize(const tstring& icon);

#endif
