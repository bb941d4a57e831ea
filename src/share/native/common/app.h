#ifndef VANTREL_APP_H
#define VANTREL_APP_H

#include <functional>

class LogAppender;

namespace app {

// Runs the launch callback: installs the sink chosen by "VANTREL_DEBUG", reports any failure
// as one line on the standard error stream, and returns the process exit code (0 or 1).
// A null lastErrorLogAppender selects the wrapper's own.
int launch(const std::function<void()>& callback, LogAppender* lastErrorLogAppender = nullptr);

} // namespace app

#endif
