#ifndef VANTREL_REPORTER_H
#define VANTREL_REPORTER_H

#include <exception>
#include <functional>
#include <string>

#include "SourcePosition.h"

namespace app {

// The top-level catch of the launchers and of vantrel-pack. Runs action and returns its exit
// code; a failure is handed to show as the text meant for the user (UTF-8), then logged at
// ERROR level with the position of catchSite, and ends as exit code 1. That text is the
// message of the system's own errors, foreignText of any other standard failure, and
// "Unknown error" for anything else.
int runReporting(const SourcePosition& catchSite, const std::function<int()>& action,
                 std::string (*foreignText)(const std::exception&),
                 const std::function<void(const std::string&)>& show);

} // namespace app

#endif
