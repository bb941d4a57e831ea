#include "WinApi.h"

#include <stdexcept>

#include "TestSupport.h"

namespace testsupport {
namespace {

// Quoting that the child's standard command-line splitting undoes exactly; written
// independently of the launcher's own so that tests can check one against the other.
tstring quoteArgument(const tstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == tstring::npos) {
        return arg;
    }
    tstring result = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            result.append(backslashes * 2 + 1, L'\\');
            result += c;
            backslashes = 0;
        } else {
            result.append(backslashes, L'\\');
            result += c;
            backslashes = 0;
        }
    }
    result.append(backslashes * 2, L'\\');
    return result + L"\"";
}

bool sameName(const tstring& entry, const tstring& name) {
    const std::size_t eq = entry.find(L'=', 1);
    return eq != tstring::npos && tstrings::equals(entry.substr(0, eq), name, tstrings::IgnoreCase);
}

tstring environmentBlock(const EnvChanges& changes) {
    tstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p; p += wcslen(p) + 1) {
        const tstring entry(p);
        bool changed = false;
        for (const auto& change : changes) {
            changed = changed || sameName(entry, change.first);
        }
        if (!changed) {
            block += entry;
            block += L'\0';
        }
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& change : changes) {
        if (change.second) {
            block += change.first + L"=" + *change.second;
            block += L'\0';
        }
    }
    block += L'\0';
    return block;
}

class Handle {
public:
    explicit Handle(HANDLE h) : h(h) {}
    ~Handle() {
        if (h && h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h; }

private:
    HANDLE h;
};

// A temporary file the child writes one stream into; deleted when closed.
HANDLE openCaptureFile() {
    wchar_t dir[MAX_PATH];
    wchar_t name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"vtc", 0, name);
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                       nullptr);
}

std::string contents(HANDLE file) {
    std::string result;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        result.append(buffer, n);
    }
    return result;
}

} // namespace

ChildResult runChild(const tstring& exe, const tstring_array& args, const EnvChanges& env,
                     const tstring& workDir, const std::function<void()>& beforeRun) {
    tstring commandLine = quoteArgument(exe);
    for (const tstring& arg : args) {
        commandLine += L" " + quoteArgument(arg);
    }
    tstring block = environmentBlock(env);
    Handle out(openCaptureFile());
    Handle err(openCaptureFile());
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    Handle in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                          OPEN_EXISTING, 0, nullptr));
    if (out.get() == INVALID_HANDLE_VALUE || err.get() == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("Can't create capture files");
    }

    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in.get();
    si.hStdOutput = out.get();
    si.hStdError = err.get();
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | (beforeRun ? CREATE_SUSPENDED : 0), &block[0],
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("CreateProcess failed for " + tstrings::toUtf8(exe) + ": error " +
                                 std::to_string(error));
    }
    Handle process(pi.hProcess);
    Handle thread(pi.hThread);
    if (beforeRun) {
        beforeRun();
        ResumeThread(thread.get());
    }
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return ChildResult{code, contents(out.get()), contents(err.get())};
}

} // namespace testsupport
