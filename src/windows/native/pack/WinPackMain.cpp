// The entry of vantrel-pack on Windows.
#include "PackHost.h"
#include "PackTool.h"
#include "SysInfo.h"

int wmain() {
    PackHost::watchStopRequests();
    return PackTool::run(SysInfo::getCommandArgs(true), SysInfo::getExecutablePath());
}
