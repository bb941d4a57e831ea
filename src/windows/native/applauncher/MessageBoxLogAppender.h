#ifndef VANTREL_MESSAGEBOXLOGAPPENDER_H
#define VANTREL_MESSAGEBOXLOGAPPENDER_H

#include <functional>

#include "Log.h"
#include "tstrings.h"

// The last-error sink of the windowed launcher: shows the error meant for the user in a
// message box with the error icon, titled with the executable's name without extension. One
// box per process at most, and none for an empty message.
class MessageBoxLogAppender : public LogAppender {
public:
    typedef std::function<void(const tstring& text, const tstring& caption)> Show;

    // show is the seam for tests; by default a real, blocking message box.
    explicit MessageBoxLogAppender(Show show = showMessageBox);

    void append(const LogEvent& event) override;

    static void showMessageBox(const tstring& text, const tstring& caption);

private:
    Show show;
    bool shown = false;
};

// True when the standard error handle leads somewhere: a console, a file or a pipe.
bool standardErrorIsUsable();

#endif
