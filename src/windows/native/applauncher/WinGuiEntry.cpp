// Process entry of the windowed launcher, vantrelw.exe: no console ever opens for it.
#include "WinApi.h"

#include "MessageBoxLogAppender.h"
#include "WinLauncher.h"

// A windowed process usually has no standard error stream: the error is shown in a message box
// unless the caller redirected the stream (scripts, installers), which then gets the console
// launcher's one line. The trace goes to the stream when it is usable and is dropped
// otherwise: borrowing the parent's console would mix the trace into a shell's prompt.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (standardErrorIsUsable()) {
        return runWinLauncher(nullptr);
    }
    MessageBoxLogAppender messageBox;
    return runWinLauncher(&messageBox);
}
