#ifndef VANTREL_ERRORHANDLING_H
#define VANTREL_ERRORHANDLING_H

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "SourcePosition.h"
#include "tstrings.h"

// Gives the bare message of the system's own errors. Errors are destroyed through their
// standard-exception side, so no virtual destructor here.
class VtErrorBase {
public:
    virtual const char* bareMessage() const = 0;
    // The whole bare message: what() stops at a NUL that the text may hold.
    virtual const std::string& wholeBareMessage() const = 0;

protected:
    VtErrorBase() = default;
    VtErrorBase(const VtErrorBase&) = default;
    VtErrorBase& operator=(const VtErrorBase&) = default;
    ~VtErrorBase() = default;
};

// "<file>(<line>) at <function>(): <message>"
std::string makePositionedMessage(const SourcePosition& position, const char* message);

template <class E>
class VtError : public VtErrorBase, public E {
public:
    VtError(const E& error, const SourcePosition& position)
        : VtError(error, position, error.what()) {}
    VtError(const E& error, const SourcePosition& position, const std::string& whole)
        : E(error), whole(whole), positionedMessage(makePositionedMessage(position, error.what())) {
    }

    const char* bareMessage() const override { return E::what(); }
    const std::string& wholeBareMessage() const override { return whole; }
    const char* what() const noexcept override { return positionedMessage.c_str(); }

private:
    std::string whole;
    std::string positionedMessage;
};

// A failed system call. The message, composed once, keeps the caller's text, the label, the
// code and the system's description of it.
class SysError : public std::runtime_error {
public:
    SysError(const tstrings::TextBuilder& message, const void* function, std::uint32_t code,
             const char* label = "System error");

    const std::string& wholeMessage() const { return whole; }

private:
    explicit SysError(const std::string& text) : std::runtime_error(text), whole(text) {}

    std::string whole;
};

// Function pointers are not object pointers; copy the bits instead of casting.
template <class F>
const void* functionAddress(F* function) {
    const void* address = nullptr;
    static_assert(sizeof(address) == sizeof(function), "function pointers must fit a pointer");
    std::memcpy(&address, &function, sizeof(address));
    return address;
}

VtError<std::runtime_error> makeError(const tstrings::TextBuilder& message,
                                      const SourcePosition& position);
VtError<std::runtime_error> makeError(const std::string& message, const SourcePosition& position);
VtError<std::runtime_error> makeError(const char* message, const SourcePosition& position);
VtError<SysError> makeError(const SysError& error, const SourcePosition& position);

// Raises one of the system's errors positioned at the raising site.
#define VT_RAISE(error) throw makeError((error), VT_SOURCE_POSITION)

// Raises the SysError of the platform call that has just failed, positioned at the raising
// site. The code is read first: composing the message may change it.
#define VT_RAISE_FAILED_CALL(message, function)                                                    \
    do {                                                                                           \
        const std::uint32_t vtFailedCallCode = lastSystemErrorCode();                              \
        VT_RAISE(SysError((message), functionAddress(function), vtFailedCallCode));                \
    } while (false)

// VT_RAISE_FAILED_CALL of a file call: "<call>(<path>) failed".
[[noreturn]] void raiseFailedFileCall(const char* call, const tstring& path, const void* function);

// A platform call that failed: the function, whose module describes the code, and the code.
struct FailedCall {
    const void* function = nullptr;
    std::uint32_t code = 0;
};

std::string joinMessageParts(const std::string& first, const std::string& second);

void logCaughtError(const SourcePosition& position, const std::runtime_error& error);
void logCaughtError(const SourcePosition& position);

// The error primitives of the platform.
// The calling thread's last error code (GetLastError(), errno).
std::uint32_t lastSystemErrorCode();
// The system's description of code, looked up in the module that holds the address function
// (the system's own texts when function is null). False when no module holds that address.
bool describeSystemError(std::uint32_t code, const void* function, tstring& description);
// The C runtime's message for its current error number, UTF-8, or empty text.
std::string lastCrtErrorText();

// The base name of a source path: the text after its last '\' or '/'.
const char* sourceBaseName(const char* path);

// Runs action; failures are reported at ERROR level with the catch site's position and not
// passed on. Use with VT_SOURCE_POSITION of the calling function.
template <class Action>
void catchAndLog(const SourcePosition& position, Action&& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        logCaughtError(position, error);
    } catch (...) {
        logCaughtError(position);
    }
}

#endif
