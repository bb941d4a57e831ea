#include "Log.h"

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <new>

#include "ErrorHandling.h"
#include "SysInfo.h"

namespace {

const std::size_t moduleNameCapacity = 260;
wchar_t moduleName[moduleNameCapacity] = L"Unknown";

// Constant-initialized: no start-up constructor runs for the default logger.
Logger defaultLogger(Logger::LOG_TRACE, nullptr);
alignas(StreamLogAppender) unsigned char defaultAppenderStorage[sizeof(StreamLogAppender)];

enum class SetUpState { NotSetUp, SettingUp, SetUp };
SetUpState setUpState = SetUpState::NotSetUp;

const wchar_t* baseName(const wchar_t* path) {
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') {
            base = p + 1;
        }
    }
    return base;
}

void storeModuleName(const tstring& name) {
    const std::size_t length = std::min(name.size(), moduleNameCapacity - 1);
    std::wmemcpy(moduleName, name.data(), length);
    moduleName[length] = L'\0';
}

void determineModuleName() {
    try {
        storeModuleName(baseName(SysInfo::getCurrentModulePath().c_str()));
    } catch (const std::runtime_error&) {
        storeModuleName(L"Unknown");
    }
}

// Looked up only when something is logged: finding the module costs more than the whole
// launch does without tracing.
void setUpModuleName() {
    switch (setUpState) {
    case SetUpState::NotSetUp:
        setUpState = SetUpState::SettingUp;
        determineModuleName();
        setUpState = SetUpState::SetUp;
        break;
    case SetUpState::SettingUp:
        // Logged from inside the module-name lookup itself.
        moduleName[0] = L'\0';
        break;
    case SetUpState::SetUp:
        break;
    }
}

} // namespace

const wchar_t* logModuleName() {
    setUpModuleName();
    return moduleName;
}

Logger& Logger::getDefault() {
    if (defaultLogger.getAppender() == nullptr) {
        defaultLogger.setAppender(new (defaultAppenderStorage) StreamLogAppender(std::cout));
    }
    return defaultLogger;
}

const wchar_t* Logger::levelText(int level) {
    switch (level) {
    case LOG_TRACE:
        return L"TRACE";
    case LOG_INFO:
        return L"INFO";
    case LOG_WARNING:
        return L"WARNING";
    case LOG_ERROR:
        return L"ERROR";
    default:
        return L"UNKNOWN";
    }
}

void Logger::log(int level, const wchar_t* file, int line, const wchar_t* function,
                 const tstring& message) const {
    LogEvent event{};
    fillLogEventOrigin(event);
    event.moduleName = logModuleName();
    event.level = levelText(level);
    event.file = baseName(file);
    event.line = line;
    event.function = function;
    event.message = message;
    if (appender) {
        appender->append(event);
    }
}

void StreamLogAppender::append(const LogEvent& event) {
    const LogEvent::Time& t = event.time;
    tstring line = L"[";
    line += tstrings::format(L"%04u/%02u/%02u %02u:%02u:%02u.%03u, %ls (PID: %u, TID: %u), ",
                             unsigned(t.year), unsigned(t.month), unsigned(t.day), unsigned(t.hour),
                             unsigned(t.minute), unsigned(t.second), unsigned(t.milliseconds),
                             event.moduleName, unsigned(event.processId), unsigned(event.threadId));
    line += (tstrings::TextBuilder() << event.file << L":" << event.line << L" (" << event.function
                                     << L")]\n\t" << event.level << L": " << event.message)
                .text();
    stream << tstrings::toUtf8(line) << std::endl;
}

void TeeLogAppender::append(const LogEvent& event) {
    if (first) {
        first->append(event);
    }
    if (second) {
        second->append(event);
    }
}

WithExtraLogAppender::WithExtraLogAppender(LogAppender& extra)
    : previous(Logger::getDefault().getAppender()), tee(new TeeLogAppender(previous, &extra)) {
    Logger::getDefault().setAppender(tee.get());
}

WithExtraLogAppender::~WithExtraLogAppender() {
    Logger::getDefault().setAppender(previous);
}

FunctionTracer::FunctionTracer(Logger& logger, int level, const wchar_t* file, int line,
                               const wchar_t* function, const wchar_t* context)
    : logger(logger), level(level), file(file), line(line), function(function), context(context),
      enabled(logger.isEnabled(level)) {
    if (enabled) {
        logger.log(level, file, line, function, tstring(L"Entering ") + context);
    }
}

FunctionTracer::~FunctionTracer() {
    if (enabled) {
        logger.log(level, file, 0, function,
                   tstrings::TextBuilder() << L"Exiting " << context << L" (entered at "
                                           << baseName(file) << L":" << line << L")");
    }
}
