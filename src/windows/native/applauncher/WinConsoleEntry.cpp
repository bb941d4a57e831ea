// Process entry of the console launcher, vantrel.exe.
#include "WinLauncher.h"

int wmain() {
    return runWinLauncher(nullptr);
}
