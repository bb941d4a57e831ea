// The entry of vantrel-pack on Windows.
#include "PackTool.h"
#include "SysInfo.h"

int wmain() {
    return PackTool::run(SysInfo::getCommandArgs(true), SysInfo::getExecutablePath());
}
