#include "Executor.h"

#include <vector>

#include "ErrorHandling.h"
#include "Log.h"

static_assert(sizeof(void*) != 8 || sizeof(STARTUPINFOW) == 104, "64-bit start-up record layout");

namespace {

bool hasBlank(const tstring& text) {
    return text.find_first_of(L" \t") != tstring::npos;
}

tstring makeTraceText(bool suspended, bool visible, bool inheritHandles, const tstring& appPath,
                      const tstring& commandLine) {
    tstrings::TextBuilder text;
    text << L"CreateProcess";
    if (suspended) {
        text << L"[suspended]";
    }
    if (visible) {
        text << L"[visible]";
    }
    if (inheritHandles) {
        text << L"[inherit]";
    }
    text << L"(" << appPath << L", " << commandLine << L")";
    return text.text();
}

} // namespace

tstring CommandLine::quoteArg(const tstring& arg) {
    const bool wrap = arg.empty() || hasBlank(arg);
    if (!wrap && arg.find(L'"') == tstring::npos) {
        return arg;
    }

    // Backslashes are literal unless they precede a quotation mark; there, 2n of them stand for
    // n and an odd one escapes the mark.
    tstring result;
    if (wrap) {
        result += L'"';
    }
    tstring::size_type backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        result += c;
        backslashes = 0;
    }
    if (wrap) {
        result.append(backslashes * 2, L'\\');
        result += L'"';
    } else {
        result.append(backslashes, L'\\');
    }
    return result;
}

tstring CommandLine::quoteProgramName(const tstring& path) {
    if (path.empty() || hasBlank(path)) {
        return L"\"" + path + L"\"";
    }
    return path;
}

tstring CommandLine::make(const tstring& programName, const tstring_array& args) {
    tstring result = quoteProgramName(programName);
    for (const tstring& arg : args) {
        result += L' ';
        result += quoteArg(arg);
    }
    return result;
}

UniqueHandle Executor::startProcess(UniqueHandle* threadHandleSlot) const {
    const tstring commandLine = CommandLine::make(appPath, args);
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> commandLineBuffer(commandLine.begin(), commandLine.end());
    commandLineBuffer.push_back(L'\0');

    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};

    DWORD creationFlags = suspended ? CREATE_SUSPENDED : 0;
    if (!visible) {
        startupInfo.dwFlags = STARTF_USESHOWWINDOW;
        startupInfo.wShowWindow = SW_HIDE;
        creationFlags |= CREATE_NO_WINDOW;
    }

    tstrings::TextBuilder trace;
    trace << makeTraceText(suspended, visible, inheritHandles, appPath, commandLine);

    if (!CreateProcessW(appPath.c_str(), commandLineBuffer.data(), nullptr, nullptr,
                        inheritHandles ? TRUE : FALSE, creationFlags, nullptr, nullptr,
                        &startupInfo, &processInfo)) {
        VT_RAISE_FAILED_CALL(trace << L" failed", &CreateProcessW);
    }

    UniqueHandle process(processInfo.hProcess);
    UniqueHandle thread(processInfo.hThread);

    trace << L" succeeded; PID=" << processInfo.dwProcessId;
    LOG_TRACE(trace.text());

    if (threadHandleSlot) {
        *threadHandleSlot = std::move(thread);
    } else {
        thread.reset();
    }

    if (jobObject) {
        LOG_TRACE(L"AssignProcessToJobObject(PID=" << processInfo.dwProcessId << L")");
        if (!AssignProcessToJobObject(jobObject, process.get())) {
            const DWORD error = GetLastError();
            // Nobody will wait for a child that is not where the caller wanted it, and a
            // suspended one would never run: end it rather than leave it behind.
            TerminateProcess(process.get(), 1);
            VT_RAISE(SysError(tstrings::TextBuilder() << "AssignProcessToJobObject() failed",
                              functionAddress(&AssignProcessToJobObject), error));
        }
    }

    return process;
}

std::uint32_t Executor::execAndWaitForExit() const {
    UniqueHandle thread;
    const UniqueHandle process = startProcess(&thread);

    if (suspended) {
        LOG_TRACE(L"ResumeThread()");
        if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
            VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "ResumeThread() failed", &ResumeThread);
        }
    }

    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "WaitForSingleObject() failed",
                             &WaitForSingleObject);
    }

    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "GetExitCodeProcess() failed",
                             &GetExitCodeProcess);
    }

    const DWORD processId = GetProcessId(process.get());
    if (processId == 0) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "GetProcessId() failed.", &GetProcessId);
    }

    LOG_TRACE(L"Process with PID=" << processId << L" terminated. Exit code=" << exitCode);
    return exitCode;
}
