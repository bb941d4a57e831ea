// vantrel-pack on Windows: child processes through CreateProcessW, wide paths.
#include "WinApi.h"

#include <vector>

#include "ErrorHandling.h"
#include "Executor.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "Toolbox.h"
#include "WinHandle.h"

namespace {

volatile LONG stopRequested = 0;

// The console sends the event to the children too; they end on their own.
BOOL WINAPI requestStop(DWORD) {
    InterlockedExchange(&stopRequested, 1);
    return TRUE;
}

[[noreturn]] void raiseSystemError(const char* call, const tstring& program, const void* function) {
    VT_RAISE_FAILED_CALL(tstrings::TextBuilder()
                             << L"cannot run " << program << L": " << call << L"() failed",
                         function);
}

// A temporary file that the child inherits as an output stream and that the system deletes
// when the last handle to it closes.
UniqueFileHandle makeCaptureFile(const tstring& program) {
    wchar_t dir[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, dir) == 0 || GetTempFileNameW(dir, L"vtp", 0, path) == 0) {
        raiseSystemError("GetTempFileNameW", program, functionAddress(&GetTempFileNameW));
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    UniqueFileHandle file(
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        raiseSystemError("CreateFileW", program, functionAddress(&CreateFileW));
    }
    return file;
}

// A new file in this user's own temporary folder (others can't open it) holding secret;
// the caller removes it.
tstring writeSecretFile(const tstring& program, const std::string& secret) {
    wchar_t dir[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, dir) == 0 || GetTempFileNameW(dir, L"vtp", 0, path) == 0) {
        raiseSystemError("GetTempFileNameW", program, functionAddress(&GetTempFileNameW));
    }
    const UniqueFileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                            FILE_ATTRIBUTE_TEMPORARY, nullptr));
    DWORD written = 0;
    if (!file ||
        !WriteFile(file.get(), secret.data(), static_cast<DWORD>(secret.size()), &written,
                   nullptr) ||
        written != secret.size()) {
        DeleteFileW(path);
        raiseSystemError("WriteFile", program, functionAddress(&WriteFile));
    }
    return path;
}

std::string readAll(const UniqueFileHandle& file) {
    std::string result;
    char buffer[8192];
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    DWORD count = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &count, nullptr) && count > 0) {
        result.append(buffer, count);
    }
    return result;
}

} // namespace

namespace PackHost {

const wchar_t* const executableSuffix = L".exe";

void watchStopRequests() {
    SetConsoleCtrlHandler(requestStop, TRUE);
}

void checkNotStopped() {
    if (InterlockedCompareExchange(&stopRequested, 0, 0) != 0) {
        VT_RAISE("interrupted");
    }
}

const PackTarget& defaultTarget() {
    return PackTargets::windows64;
}

ProcessResult runProcess(const tstring& program, const tstring_array& args) {
    const UniqueFileHandle out = makeCaptureFile(program);
    const UniqueFileHandle err = makeCaptureFile(program);
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const UniqueFileHandle in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    startupInfo.dwFlags = STARTF_USESTDHANDLES;
    startupInfo.hStdInput = in.get();
    startupInfo.hStdOutput = out.get();
    startupInfo.hStdError = err.get();
    const tstring commandLine = CommandLine::make(program, args);
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startupInfo, &info)) {
        raiseSystemError("CreateProcessW", program, functionAddress(&CreateProcessW));
    }
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED ||
        !GetExitCodeProcess(process.get(), &exitCode)) {
        raiseSystemError("GetExitCodeProcess", program, functionAddress(&GetExitCodeProcess));
    }
    return ProcessResult{static_cast<int>(exitCode), readAll(out), readAll(err)};
}

ProcessResult runProcessWithSecret(const tstring& program, const std::string& secret,
                                   const std::function<tstring_array(const tstring&)>& makeArgs) {
    const tstring path = writeSecretFile(program, secret);
    const AtEndOfScope remove([&] { DeleteFileW(path.c_str()); });
    return runProcess(program, makeArgs(path));
}

} // namespace PackHost

namespace PackFiles {

std::filesystem::path fsPath(const tstring& path) {
    return std::filesystem::path(path);
}

tstring fromFsPath(const std::filesystem::path& path) {
    return path.wstring();
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
void renameNoReplace(const tstring& from, const tstring& to, std::error_code& error) {
    error = MoveFileExW(from.c_str(), to.c_str(), 0)
                ? std::error_code()
                : std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// Windows moves no folder over another in one step.
void exchange(const tstring&, const tstring&, std::error_code& error) {
    error = std::make_error_code(std::errc::operation_not_supported);
}

void setModificationTime(const std::filesystem::path& path, std::int64_t time,
                         std::error_code& error) {
    const UniqueFileHandle file(CreateFileW(
        path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // FILETIME counts 100 ns from 1601.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time) + 11644473600ull) * 10000000ull;
    const FILETIME when = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    error = file && SetFileTime(file.get(), nullptr, nullptr, &when)
                ? std::error_code()
                : std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

} // namespace PackFiles
