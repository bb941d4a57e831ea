#include "WinApi.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "WinSysInfo.h"

namespace SysInfo {

namespace {

struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

// 203: ERROR_ENVVAR_NOT_FOUND.
const DWORD envVariableNotFound = ERROR_ENVVAR_NOT_FOUND;

tstring textUpToNul(const std::vector<wchar_t>& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), L'\0');
    return tstring(buffer.begin(), end);
}

// With notFound, a missing or unreadable variable sets *notFound and gives empty text instead
// of raising.
tstring getEnvVariableImpl(const tstring& name, bool* notFound = nullptr) {
    std::vector<wchar_t> buffer(10, L'\0');
    // Cleared first, so that a variable set to empty text is told apart from a missing one.
    SetLastError(0);
    const DWORD size =
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    const DWORD firstError = GetLastError();
    if (firstError == envVariableNotFound) {
        if (notFound) {
            *notFound = true;
            return tstring();
        }
        VT_RAISE(SysError(tstrings::TextBuilder()
                              << "GetEnvironmentVariable(" << name << ") failed. Variable not set",
                          functionAddress(&GetEnvironmentVariableW), firstError));
    }

    if (size > buffer.size()) {
        buffer.resize(size, L'\0');
        // Judge the second read by its own outcome, not by what the first one left behind.
        SetLastError(0);
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        const DWORD secondError = GetLastError();
        if (secondError != 0) {
            if (notFound) {
                *notFound = true;
                return tstring();
            }
            VT_RAISE(
                SysError(tstrings::TextBuilder() << "GetEnvironmentVariable(" << name << ") failed",
                         functionAddress(&GetEnvironmentVariableW), secondError));
        }
    }

    if (notFound) {
        *notFound = false;
    }
    return textUpToNul(buffer);
}

tstring getModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    // The path was cut while it fills the whole buffer.
    while (length >= buffer.size()) {
        buffer.resize(buffer.size() * 2);
        length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (length == 0) {
        const DWORD error = GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder() << "GetModuleFileName failed",
                          functionAddress(&GetModuleFileNameW), error));
    }
    return tstring(buffer.data(), length);
}

typedef UINT(WINAPI* SystemDirQuery)(LPWSTR buffer, UINT size);

tstring getSystemDirImpl(SystemDirQuery query, const char* queryName) {
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) {
            const DWORD error = GetLastError();
            VT_RAISE(SysError(tstrings::TextBuilder() << queryName << " failed",
                              functionAddress(query), error));
        }
        if (length < buffer.size()) {
            return FileUtils::trimTrailingSeparators(textUpToNul(buffer));
        }
        buffer.resize(length + 1, L'\0');
    }
    VT_RAISE(tstrings::TextBuilder() << "Unexpected reply from " << queryName);
}

} // namespace

tstring_array getCommandArgs(bool skipProgramName) {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> args(
        CommandLineToArgvW(GetCommandLineW(), &count));
    if (!args) {
        const DWORD error = GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder() << "CommandLineToArgvW failed",
                          functionAddress(&CommandLineToArgvW), error));
    }

    tstring_array result;
    for (int i = skipProgramName ? 1 : 0; i < count; ++i) {
        result.push_back(args.get()[i]);
    }
    return result;
}

tstring readEnvVariable(const tstring& name, bool* notFound) {
    return getEnvVariableImpl(name, notFound);
}

bool setEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& value) {
    return SetEnvironmentVariableW(name.c_str(), value.c_str()) != 0;
}

void setEnvVariable(const tstring& name, const tstring& value) {
    if (!setEnvVariable(std::nothrow, name, value)) {
        const DWORD error = GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder()
                              << "SetEnvironmentVariable(" << name << ", " << value << ") failed",
                          functionAddress(&SetEnvironmentVariableW), error));
    }
}

ModuleHandle getCurrentModuleHandle() {
    // 6: look the module up by an address inside it, and leave its reference count alone.
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(functionAddress(&getCurrentModuleHandle)),
                            &module)) {
        const DWORD error = GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder() << "GetModuleHandleExW failed",
                          functionAddress(&GetModuleHandleExW), error));
    }
    return module;
}

tstring getCurrentModulePath() {
    return getModulePath(static_cast<HMODULE>(getCurrentModuleHandle()));
}

// GetFullPathNameW sizes its own answer, so a path deeper than 260 characters stays whole.
tstring getFullPathName(const tstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    // The answer grows only if the current directory changes between the two calls.
    for (int attempt = 0; attempt < 3 && size != 0; ++attempt) {
        std::vector<wchar_t> buffer(size);
        const DWORD length = GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
        if (length != 0 && length < size) {
            return tstring(buffer.data(), length);
        }
        size = length;
    }
    const DWORD error = GetLastError();
    VT_RAISE(SysError(tstrings::TextBuilder() << "GetFullPathName(" << path << ") failed",
                      functionAddress(&GetFullPathNameW), error));
}

tstring getExecutablePath() {
    return getFullPathName(getModulePath(nullptr));
}

tstring getSystemDir() {
    return getSystemDirImpl(&GetSystemDirectoryW, "GetSystemDirectory");
}

} // namespace SysInfo
