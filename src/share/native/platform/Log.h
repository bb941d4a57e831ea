#ifndef VANTREL_LOG_H
#define VANTREL_LOG_H

#include <cstdint>
#include <memory>
#include <ostream>

#include "SourcePosition.h"
#include "tstrings.h"

struct LogEvent {
    struct Time {
        std::uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
    };

    Time time;
    std::uint32_t threadId;
    std::uint32_t processId;
    const wchar_t* moduleName;
    tstring level;
    tstring file;
    int line;
    tstring function;
    tstring message;
};

// Local time, thread and process ids of the calling thread; one implementation per platform.
void fillLogEventOrigin(LogEvent& event);

class LogAppender {
public:
    virtual ~LogAppender() = default;
    virtual void append(const LogEvent& event) = 0;
    // False for a sink that drops every line: its logger then refuses every level, so that
    // silent tracing costs no formatting.
    bool takesLines() const { return takes; }

protected:
    explicit LogAppender(bool takesLines = true) : takes(takesLines) {}

private:
    bool takes;
};

class NopLogAppender : public LogAppender {
public:
    NopLogAppender() : LogAppender(false) {}
    void append(const LogEvent&) override {}
};

// The full two-line format with time, module, ids and function.
class StreamLogAppender : public LogAppender {
public:
    explicit StreamLogAppender(std::ostream& stream) : stream(stream) {}
    void append(const LogEvent& event) override;

private:
    std::ostream& stream;
};

class TeeLogAppender : public LogAppender {
public:
    TeeLogAppender(LogAppender* first, LogAppender* second)
        : LogAppender((first && first->takesLines()) || (second && second->takesLines())),
          first(first), second(second) {}
    void append(const LogEvent& event) override;

private:
    LogAppender* first;
    LogAppender* second;
};

class Logger {
public:
    enum LogLevel { LOG_TRACE = 0, LOG_INFO = 1, LOG_WARNING = 2, LOG_ERROR = 3 };

    constexpr Logger(int minLevel, LogAppender* appender)
        : minLevel(minLevel), appender(appender) {}

    static Logger& getDefault();
    static const wchar_t* levelText(int level);

    bool isEnabled(int level) const {
        return level >= minLevel && (appender == nullptr || appender->takesLines());
    }
    void log(int level, const wchar_t* file, int line, const wchar_t* function,
             const tstring& message) const;
    void log(int level, const wchar_t* file, int line, const wchar_t* function,
             const tstrings::TextBuilder& message) const {
        log(level, file, line, function, message.text());
    }

    // The logger never owns its sink.
    LogAppender* getAppender() const { return appender; }
    void setAppender(LogAppender* newAppender) { appender = newAppender; }

private:
    int minLevel;
    LogAppender* appender;
};

// The module name shown in full log lines, looked up at the first event or call ("Unknown" when
// the lookup fails).
const wchar_t* logModuleName();

// Sends every event to an extra sink as well while it lives.
class WithExtraLogAppender {
public:
    explicit WithExtraLogAppender(LogAppender& extra);
    virtual ~WithExtraLogAppender();
    WithExtraLogAppender(const WithExtraLogAppender&) = delete;
    WithExtraLogAppender& operator=(const WithExtraLogAppender&) = delete;

private:
    LogAppender* previous;
    std::unique_ptr<TeeLogAppender> tee;
};

class FunctionTracer {
public:
    FunctionTracer(Logger& logger, int level, const wchar_t* file, int line,
                   const wchar_t* function, const wchar_t* context);
    ~FunctionTracer();
    FunctionTracer(const FunctionTracer&) = delete;
    FunctionTracer& operator=(const FunctionTracer&) = delete;

private:
    // Static texts (source positions): nothing is copied when the level is refused.
    Logger& logger;
    int level;
    const wchar_t* file;
    int line;
    const wchar_t* function;
    const wchar_t* context;
    bool enabled;
};

// Log sites ask the logger first, so that a refused level costs no formatting.
#define VT_LOG(level, message)                                                                     \
    do {                                                                                           \
        const ::Logger& vtLogger_ = ::Logger::getDefault();                                        \
        if (vtLogger_.isEnabled(level)) {                                                          \
            vtLogger_.log(level, VT_WIDE(__FILE__), __LINE__, VT_WFUNCTION_NAME,                   \
                          ::tstrings::TextBuilder() << message);                                   \
        }                                                                                          \
    } while (0)

#define LOG_TRACE(message) VT_LOG(::Logger::LOG_TRACE, message)
#define LOG_WARNING(message) VT_LOG(::Logger::LOG_WARNING, message)
#define LOG_ERROR(message) VT_LOG(::Logger::LOG_ERROR, message)

#define LOG_TRACE_FUNCTION()                                                                       \
    ::FunctionTracer vtFunctionTracer_(::Logger::getDefault(), ::Logger::LOG_TRACE,                \
                                       VT_WIDE(__FILE__), __LINE__, VT_WFUNCTION_NAME,             \
                                       VT_WFUNCTION_NAME)

#endif
