#ifndef VANTREL_REPORTER_H
#define VANTREL_REPORTER_H

#include <exception>
#include <stdexcept>
#include <string>

#include "ErrorHandling.h"
#include "SourcePosition.h"
#include "tstrings.h"

namespace app {

// Logs a caught standard failure at ERROR level, at position.
void logCaughtException(const SourcePosition& position, const std::exception& error);

// The top-level catch of the launchers and of vantrel-pack. Runs action and returns its exit
// code; a failure is handed to show as the text meant for the user (UTF-8), then, given a
// catchSite, logged at ERROR level with its position, and ends as exit code 1. That text is the
// message of the system's own errors, foreignText of any other standard failure, and
// "Unknown error" for anything else. A template: each program has one action and one show.
template <class Action, class Show>
int runReporting(const SourcePosition* catchSite, const Action& action,
                 std::string (*foreignText)(const std::exception&), const Show& show) {
    try {
        return action();
    } catch (const VtErrorBase& error) {
        show(tstrings::TextBuilder(error.wholeBareMessage()).utf8());
        if (catchSite) {
            logCaughtError(*catchSite, dynamic_cast<const std::runtime_error&>(error));
        }
    } catch (const std::exception& error) {
        show(foreignText(error));
        if (catchSite) {
            logCaughtException(*catchSite, error);
        }
    } catch (...) {
        show("Unknown error");
        if (catchSite) {
            logCaughtError(*catchSite);
        }
    }
    return 1;
}

} // namespace app

#endif
