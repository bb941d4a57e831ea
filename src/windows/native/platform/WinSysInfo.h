#ifndef VANTREL_WINSYSINFO_H
#define VANTREL_WINSYSINFO_H

#include "tstrings.h"

namespace SysInfo {

// The absolute form of path, of whatever length (the C runtime's full path stops at 260).
tstring getFullPathName(const tstring& path);

} // namespace SysInfo

#endif
