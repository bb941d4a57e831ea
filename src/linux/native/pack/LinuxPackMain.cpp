// The entry of vantrel-pack on Linux.
#include "PackTool.h"
#include "SysInfo.h"

int main() {
    return PackTool::run(SysInfo::getCommandArgs(true), SysInfo::getExecutablePath());
}
