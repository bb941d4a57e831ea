#ifndef VANTREL_WINLAUNCHER_H
#define VANTREL_WINLAUNCHER_H

class LogAppender;

// Runs the whole launch and returns the process exit code; the error meant for the user goes
// to lastErrorLogAppender (null: one line on the standard error stream).
int runWinLauncher(LogAppender* lastErrorLogAppender);

#endif
