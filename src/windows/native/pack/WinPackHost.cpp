// vantrel-pack on Windows: child processes through CreateProcessW, wide paths.
#include "WinApi.h"

#include <vector>

#include "ErrorHandling.h"
#include "Executor.h"
#include "PackFiles.h"
#include "PackHost.h"
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

} // namespace PackHost

namespace PackFiles {

std::filesystem::path fsPath(const tstring& path) {
    return std::filesystem::path(path);
}

tstring fromFsPath(const std::filesystem::path& path) {
    return path.wstring();
}

} // namespace PackFiles
