#include "ErrorHandling.h"

#include <cerrno>
#include <cstring>

#include "Log.h"

const char* sourceBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/') {
            base = p + 1;
        }
    }
    return base;
}

std::string makePositionedMessage(const SourcePosition& position, const char* message) {
    std::string result(sourceBaseName(position.file));
    result += "(";
    result += std::to_string(position.line);
    result += ") at ";
    result += position.function;
    result += "(): ";
    result += message;
    return result;
}

VtError<std::runtime_error> makeError(const tstrings::TextBuilder& message,
                                      const SourcePosition& position) {
    return makeError(message.utf8(), position);
}

VtError<std::runtime_error> makeError(const std::string& message, const SourcePosition& position) {
    return VtError<std::runtime_error>(std::runtime_error(message), position, message);
}

VtError<std::runtime_error> makeError(const char* message, const SourcePosition& position) {
    return VtError<std::runtime_error>(std::runtime_error(message), position);
}

VtError<SysError> makeError(const SysError& error, const SourcePosition& position) {
    return VtError<SysError>(error, position, error.wholeMessage());
}

namespace {

// The blanks of the C library's white-space test in its default locale.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string trimTrailingBlanks(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

std::string trimLeadingBlanks(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

void logCaughtMessage(const SourcePosition& position, const tstring& message) {
    Logger::getDefault().log(Logger::LOG_ERROR,
                             tstrings::fromUtf8(sourceBaseName(position.file)).c_str(),
                             position.line, tstrings::fromUtf8(position.function).c_str(), message);
}

} // namespace

std::string joinMessageParts(const std::string& first, const std::string& second) {
    std::string result = trimTrailingBlanks(first);
    const std::string tail = trimLeadingBlanks(trimTrailingBlanks(second));
    if (tail.empty() || result.empty()) {
        return result + tail;
    }
    // A NUL is text here, not the terminator that strchr would also match.
    const bool endsWithPunctuation =
        result.back() != '\0' && std::strchr(";.,:!?", result.back()) != nullptr;
    result += endsWithPunctuation ? " " : ". ";
    return result + tail;
}

namespace {

std::string makeMessage(const std::string& message, const char* label, const void* function,
                        std::uint32_t code) {
    tstrings::TextBuilder systemPart(label ? label : "Some error");
    systemPart << " [" << code << "]";

    tstring systemText;
    if (!describeSystemError(code, function, systemText)) {
        LOG_WARNING(L"GetModuleHandleEx() failed for " << function << L" address.");
    } else {
        systemPart << "(system error " << code << " (" << systemText << "))";
    }
    return joinMessageParts(message, systemPart.utf8());
}

} // namespace

SysError::SysError(const tstrings::TextBuilder& message, const void* function, std::uint32_t code,
                   const char* label)
    : SysError(makeMessage(message.utf8(), label, function, code)) {}

void raiseFailedFileCall(const char* call, const tstring& path, const void* function) {
    VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << call << L"(" << path << L") failed", function);
}

void logCaughtError(const SourcePosition& position, const std::runtime_error& error) {
    logCaughtMessage(position, (tstrings::TextBuilder()
                                << "Exception with message '" << error.what() << "' caught")
                                   .text());
}

void logCaughtError(const SourcePosition& position) {
    logCaughtMessage(position, L"Unknown exception caught");
}
