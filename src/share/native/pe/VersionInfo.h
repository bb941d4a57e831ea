#ifndef VANTREL_VERSIONINFO_H
#define VANTREL_VERSIONINFO_H

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "BinaryData.h"
#include "tstrings.h"

typedef std::array<std::uint16_t, 4> VersionNumber;

// "A[.B[.C[.D]]]" and any qualifier after it ("1.2.3-SNAPSHOT"), missing parts 0. Raises for
// anything else, a part over 65535 included.
VersionNumber parseVersionNumber(const tstring& text);

// The VS_VERSIONINFO block of an application: fixed file and product version, and a string
// table (key, value pairs in the order given) for US English in Unicode with its Translation.
Bytes buildVersionInfo(const VersionNumber& version,
                       const std::vector<std::pair<tstring, tstring>>& strings);

using tstrings::toUtf16;

#endif
