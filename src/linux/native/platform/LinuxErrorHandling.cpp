#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ErrorHandling.h"

namespace {

// XSI strerror_r fails for a code it has no text for.
[[maybe_unused]] const char* describedText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

// GNU strerror_r never fails; it makes up "Unknown error <code>" instead, which is no
// description, so ask the table of texts whether the code has one.
[[maybe_unused]] const char* describedText(const char* result, const char*) {
    return result;
}

bool hasDescription(int code) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
    return strerrordesc_np(code) != nullptr;
#else
    (void)code;
    return true;
#endif
}

// One table of error texts serves every library here.
tstring getSystemMessageText(std::uint32_t code) {
    const int errorNumber = static_cast<int>(code);
    char buffer[1024] = {};
    const char* text = describedText(strerror_r(errorNumber, buffer, sizeof(buffer)), buffer);
    if (!text || !*text || !hasDescription(errorNumber)) {
        return L"No description available";
    }
    return tstrings::fromUtf8(text);
}

} // namespace

std::uint32_t lastSystemErrorCode() {
    return static_cast<std::uint32_t>(errno);
}

bool describeSystemError(std::uint32_t code, const void* function, tstring& description) {
    Dl_info info = {};
    if (function && (!dladdr(function, &info) || !info.dli_fbase)) {
        return false;
    }
    description = getSystemMessageText(code);
    return true;
}

std::string lastCrtErrorText() {
    const int code = errno;
    char buffer[2048];
    // GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof(buffer));
    return text ? std::string(text) : std::string();
}
