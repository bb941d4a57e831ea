// The entry of vantrel-pack on Linux.
#include "PackHost.h"
#include "PackTool.h"
#include "SysInfo.h"

int main() {
    PackHost::watchStopRequests();
    return PackTool::run(SysInfo::getCommandArgs(true), SysInfo::getExecutablePath());
}
