#ifndef VANTREL_TOOLBOX_H
#define VANTREL_TOOLBOX_H

#include <functional>

// Runs an action when its scope ends, on return and while a failure passes. A failure of the
// action is reported and swallowed, never raised from the destructor.
class AtEndOfScope {
public:
    explicit AtEndOfScope(std::function<void()> action) : action(std::move(action)) {}
    ~AtEndOfScope();
    AtEndOfScope(const AtEndOfScope&) = delete;
    AtEndOfScope& operator=(const AtEndOfScope&) = delete;

    // Drops the action: nothing runs at the end of the scope.
    void cancel() { action = nullptr; }

private:
    std::function<void()> action;
};

#endif
