#include "app.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "ErrorHandling.h"
#include "Log.h"
#include "Reporter.h"
#include "SysInfo.h"

namespace {

// Points at the running launch's error text only while a failure is being reported.
const std::string* lastErrorMsg = nullptr;

// Whole text: a message may hold NUL characters.
void writeLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

// "[LEVEL] file:line: message" on the standard error stream.
class StandardLogAppender : public LogAppender {
public:
    void append(const LogEvent& event) override {
        writeLine(tstrings::toUtf8((tstrings::TextBuilder()
                                    << L"[" << event.level << L"] " << event.file << L":"
                                    << event.line << L": " << event.message)
                                       .text()));
    }
};

// Writes the error text meant for the user, whatever the event.
class LastErrorLogAppender : public LogAppender {
public:
    void append(const LogEvent&) override { writeLine(app::lastErrorMessage()); }
};

StandardLogAppender standardLogAppender;
NopLogAppender nopLogAppender;
LastErrorLogAppender defaultLastErrorLogAppender;

class ResetLastErrorMsgAtEndOfScope {
public:
    ResetLastErrorMsgAtEndOfScope() = default;
    ResetLastErrorMsgAtEndOfScope(const ResetLastErrorMsgAtEndOfScope&) = delete;
    ResetLastErrorMsgAtEndOfScope& operator=(const ResetLastErrorMsgAtEndOfScope&) = delete;
    ~ResetLastErrorMsgAtEndOfScope() {
        catchAndLog(VT_SOURCE_POSITION, [] { lastErrorMsg = nullptr; });
    }
};

// From the end of the guarded region on, every event also reaches the last-error sink.
class SetLoggerAtEndOfScope {
public:
    SetLoggerAtEndOfScope(std::unique_ptr<WithExtraLogAppender>& slot, LogAppender* extra)
        : slot(slot), extra(extra) {}
    SetLoggerAtEndOfScope(const SetLoggerAtEndOfScope&) = delete;
    SetLoggerAtEndOfScope& operator=(const SetLoggerAtEndOfScope&) = delete;
    ~SetLoggerAtEndOfScope() {
        catchAndLog(VT_SOURCE_POSITION, [this] {
            slot.reset();
            slot.reset(new WithExtraLogAppender(*extra));
        });
    }

private:
    std::unique_ptr<WithExtraLogAppender>& slot;
    LogAppender* extra;
};

// A launcher tells of a failure of the C runtime by the runtime's own text; other failures are
// unknown to the user.
std::string crtTextOfRuntimeError(const std::exception& error) {
    return dynamic_cast<const std::runtime_error*>(&error) ? lastCrtErrorText() : "Unknown error";
}

bool tracingRequested() {
    return SysInfo::getEnvVariable(std::nothrow, L"VANTREL_DEBUG", tstring()) == L"true";
}

} // namespace

namespace app {

std::string lastErrorMessage() {
    return lastErrorMsg ? *lastErrorMsg : std::string();
}

int launch(const std::function<void()>& callback, LogAppender* lastErrorLogAppender) {
    const bool tracing = tracingRequested();
    Logger::getDefault().setAppender(tracing ? static_cast<LogAppender*>(&standardLogAppender)
                                             : &nopLogAppender);
    LOG_TRACE_FUNCTION();
    if (lastErrorLogAppender == nullptr) {
        lastErrorLogAppender = &defaultLastErrorLogAppender;
    }

    std::unique_ptr<WithExtraLogAppender> withLastErrorLogAppender;
    std::string errorText;
    ResetLastErrorMsgAtEndOfScope resetLastErrorMsg;
    const SourcePosition catchSite = VT_SOURCE_POSITION;
    return runReporting(
        &catchSite,
        [&] {
            SetLoggerAtEndOfScope setLogger(withLastErrorLogAppender, lastErrorLogAppender);
            callback();
            return 0;
        },
        crtTextOfRuntimeError,
        [&errorText](const std::string& text) {
            errorText = text;
            lastErrorMsg = &errorText;
        });
}

} // namespace app
