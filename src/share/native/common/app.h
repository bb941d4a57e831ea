#ifndef VANTREL_APP_H
#define VANTREL_APP_H

#include <functional>
#include <string>

class LogAppender;

namespace app {

// Runs the launch callback: installs the sink chosen by "VANTREL_DEBUG", reports any failure
// as one line on the standard error stream, and returns the process exit code (0 or 1).
// A null lastErrorLogAppender selects the wrapper's own.
int launch(const std::function<void()>& callback, LogAppender* lastErrorLogAppender = nullptr);

// The error text meant for the user (UTF-8) while a failure is being reported, else empty
// text: what a last-error sink shows.
std::string lastErrorMessage();

} // namespace app

#endif
