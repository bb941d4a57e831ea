#include "WinApi.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "ErrorHandling.h"

namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t* buffer) const { LocalFree(buffer); }
};
typedef std::unique_ptr<wchar_t, LocalFreeDeleter> SystemText;

// 0x100 the system allocates the buffer, 0x200 inserts are ignored, 0x800 the module's message
// table is searched, 0x1000 the system's.
const DWORD formatFromModule = 0x1B00;
const DWORD formatFromSystem = 0x1300;

SystemText formatSystemMessage(DWORD flags, HMODULE module, std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags, module, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    SystemText text(buffer);
    if (length == 0) {
        text.reset();
    }
    return text;
}

// The system's texts end with a period and a line end; inside parentheses both would stand out.
tstring cleanSystemText(const wchar_t* text) {
    tstring result(text);
    for (wchar_t& c : result) {
        if (c < 32) {
            c = L' ';
        }
    }
    size_t end = result.size();
    while (end > 0 && (result[end - 1] <= 32 || result[end - 1] == L'.')) {
        --end;
    }
    result.resize(end);
    return result;
}

tstring getSystemMessageText(std::uint32_t code, HMODULE module) {
    SystemText text;
    if (module) {
        text = formatSystemMessage(formatFromModule, module, code);
    }
    if (!text) {
        text = formatSystemMessage(formatFromSystem, nullptr, code);
    }
    if (!text) {
        return L"No description available";
    }
    return cleanSystemText(text.get());
}

} // namespace

std::uint32_t lastSystemErrorCode() {
    return GetLastError();
}

bool describeSystemError(std::uint32_t code, const void* function, tstring& description) {
    HMODULE module = nullptr;
    if (function) {
        // 6: look the module up by an address inside it, and leave its reference count alone.
        const DWORD flags =
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
        if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(function), &module)) {
            return false;
        }
    }
    description = getSystemMessageText(code, module);
    return true;
}

std::string lastCrtErrorText() {
    const int code = errno;
    wchar_t buffer[2048];
    if (_wcserror_s(buffer, sizeof(buffer) / sizeof(buffer[0]), code) != 0) {
        return std::string();
    }
    return tstrings::toUtf8(buffer);
}
