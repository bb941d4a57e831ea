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

tstring getModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    // The path was cut while it fills the whole buffer.
    while (length >= buffer.size()) {
        buffer.resize(buffer.size() * 2);
        length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (length == 0) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "GetModuleFileName failed",
                             &GetModuleFileNameW);
    }
    return tstring(buffer.data(), length);
}

typedef UINT(WINAPI* SystemDirQuery)(LPWSTR buffer, UINT size);

tstring getSystemDirImpl(SystemDirQuery query, const char* queryName) {
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) {
            VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << queryName << " failed", query);
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
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "CommandLineToArgvW failed",
                             &CommandLineToArgvW);
    }

    tstring_array result;
    for (int i = skipProgramName ? 1 : 0; i < count; ++i) {
        result.push_back(args.get()[i]);
    }
    return result;
}

EnvVariableState readEnvVariable(const tstring& name, tstring& value, FailedCall& failure) {
    failure.function = functionAddress(&GetEnvironmentVariableW);
    std::vector<wchar_t> buffer(10, L'\0');
    // Cleared first, so that a variable set to empty text is told apart from a missing one.
    SetLastError(0);
    const DWORD size =
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    failure.code = GetLastError();
    if (failure.code == envVariableNotFound) {
        return EnvVariableState::NotFound;
    }

    if (size > buffer.size()) {
        buffer.resize(size, L'\0');
        // Judge the second read by its own outcome, not by what the first one left behind.
        SetLastError(0);
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        failure.code = GetLastError();
        if (failure.code != 0) {
            return EnvVariableState::Unreadable;
        }
    }

    value = textUpToNul(buffer);
    return EnvVariableState::Found;
}

bool writeEnvVariable(const tstring& name, const tstring& value, FailedCall& failure) {
    if (SetEnvironmentVariableW(name.c_str(), value.c_str())) {
        return true;
    }
    failure.code = GetLastError();
    failure.function = functionAddress(&SetEnvironmentVariableW);
    return false;
}

ModuleHandle getCurrentModuleHandle() {
    // 6: look the module up by an address inside it, and leave its reference count alone.
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(functionAddress(&getCurrentModuleHandle)),
                            &module)) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "GetModuleHandleExW failed",
                             &GetModuleHandleExW);
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
    VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "GetFullPathName(" << path << ") failed",
                         &GetFullPathNameW);
}

tstring getExecutablePath() {
    return getFullPathName(getModulePath(nullptr));
}

tstring getSystemDir() {
    return getSystemDirImpl(&GetSystemDirectoryW, "GetSystemDirectory");
}

} // namespace SysInfo
