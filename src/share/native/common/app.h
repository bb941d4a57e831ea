#ifndef VANTREL_APP_H
#define VANTREL_APP_H

#include <exception>
#include <functional>
#include <string>

class LogAppender;

namespace app {

// The top-level catch of the launchers and of vantrel-pack. Runs action and returns its exit
// code; a failure is handed to show as the text meant for the user (UTF-8), then logged at
// ERROR level, and ends as exit code 1. That text is the message of the system's own errors,
// foreignText of any other standard failure, and "Unknown error" for anything else.
int runReporting(const std::function<int()>& action,
                 const std::function<std::string(const std::exception&)>& foreignText,
                 const std::function<void(const std::string&)>& show);

// Runs the launch callback: installs the sink chosen by "VANTREL_DEBUG", reports any failure
// as one line on the standard error stream, and returns the process exit code (0 or 1).
// A null lastErrorLogAppender selects the wrapper's own.
int launch(const std::function<void()>& callback, LogAppender* lastErrorLogAppender = nullptr);

// The error text meant for the user (UTF-8) while a failure is being reported, else empty
// text: what a last-error sink shows.
std::string lastErrorMessage();

} // namespace app

#endif
