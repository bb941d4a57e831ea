// A stand-in for a Java runtime's launcher library: JLI_Launch writes down what it received
// (see JliRecord.h) and returns the status the test asks for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "JliRecord.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define JLI_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#include <unistd.h>
#define JLI_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct LauncherFunctions {
    void (*closeHandle)(void*);
    int (*getJvmlLauncherDataSize)(void*);
    void* (*initJvmlLauncherData)(void*, void*, int);
};

typedef const LauncherFunctions* (*GetApiFunction)();

#ifdef _WIN32
std::string toUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                          nullptr, nullptr);
    return result;
}

std::wstring fromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

// The launcher sets variables with SetEnvironmentVariableW, which the C runtime's copy of the
// environment never sees: ask the system.
bool readEnv(const std::string& name, std::string& value) {
    const std::wstring wideName = fromUtf8(name);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        ::SetLastError(0);
        const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()));
        if (size == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            return false;
        }
        if (size < buffer.size()) {
            value = toUtf8(std::wstring(buffer.data(), size));
            return true;
        }
        buffer.resize(size);
    }
}

const void* findGetApi() {
    return reinterpret_cast<const void*>(
        ::GetProcAddress(::GetModuleHandleW(nullptr), "jvmLauncherGetAPI"));
}

FILE* openRecord(const std::string& path) {
    return ::_wfopen(fromUtf8(path).c_str(), L"wb");
}
#else
bool readEnv(const std::string& name, std::string& value) {
    const char* text = std::getenv(name.c_str());
    if (text == nullptr) {
        return false;
    }
    value = text;
    return true;
}

const void* findGetApi() {
    void* const self = ::dlopen(nullptr, RTLD_NOW);
    if (self == nullptr) {
        return nullptr;
    }
    const void* const function = ::dlsym(self, "jvmLauncherGetAPI");
    ::dlclose(self);
    return function;
}

FILE* openRecord(const std::string& path) {
    return std::fopen(path.c_str(), "wb");
}
#endif

const char* nullness(const void* pointer) {
    return pointer != nullptr ? "nonnull" : "null";
}

class Record {
public:
    void add(const std::string& key, const std::string& value) {
        text += key + "=" + jlirecord::escape(value) + "\n";
    }
    void add(const std::string& key, const char* value) {
        add(key, std::string(value != nullptr ? value : "(null)"));
    }
    void add(const std::string& key, long long value) { add(key, std::to_string(value)); }

    void write(const std::string& path) const {
        FILE* const file = openRecord(path);
        if (file == nullptr) {
            return;
        }
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

private:
    std::string text;
};

std::vector<std::string> recordedVarNames() {
    std::vector<std::string> names(std::begin(jlirecord::alwaysRecordedVars),
                                   std::end(jlirecord::alwaysRecordedVars));
    std::string extra;
    if (readEnv(jlirecord::recordVarsVar, extra)) {
        std::size_t start = 0;
        while (start <= extra.size()) {
            std::size_t end = extra.find(',', start);
            if (end == std::string::npos) {
                end = extra.size();
            }
            if (end > start) {
                names.push_back(extra.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    return names;
}

void recordEnvironment(Record& record) {
    for (const std::string& name : recordedVarNames()) {
        std::string value;
        if (readEnv(name, value)) {
            record.add("env." + name, value);
        }
    }
}

void recordApi(Record& record) {
    const void* const address = findGetApi();
    record.add("exportsGetAPI", address != nullptr ? "1" : "0");
    if (address == nullptr) {
        return;
    }
    GetApiFunction getApi;
    static_assert(sizeof(getApi) == sizeof(address), "function pointers must fit a pointer");
    std::memcpy(&getApi, &address, sizeof(getApi));
    const LauncherFunctions* const api = getApi();
    record.add("api", nullness(api));
    if (api != nullptr) {
        record.add("api.closeHandle", nullness(reinterpret_cast<const void*>(api->closeHandle)));
        record.add("api.getJvmlLauncherDataSize",
                   nullness(reinterpret_cast<const void*>(api->getJvmlLauncherDataSize)));
        record.add("api.initJvmlLauncherData",
                   nullness(reinterpret_cast<const void*>(api->initJvmlLauncherData)));
    }
}

void recordList(Record& record, const std::string& key, int count, const char** list) {
    record.add(key, nullness(list));
    for (int i = 0; list != nullptr && i < count; ++i) {
        record.add(key + "[" + std::to_string(i) + "]", list[i]);
    }
}

// Decimal; values beyond 31 bits (3221225477) wrap as an exit code does.
bool requestedNumber(const char* var, int& number) {
    std::string text;
    if (!readEnv(var, text)) {
        return false;
    }
    number = static_cast<int>(static_cast<unsigned int>(std::strtoll(text.c_str(), nullptr, 10)));
    return true;
}

#ifdef _WIN32
int consoleEventExitCode = 0;

BOOL WINAPI exitOnConsoleEvent(DWORD) {
    ::Sleep(500);
    ::ExitProcess(static_cast<UINT>(consoleEventExitCode));
}

void handleConsoleEvents() {
    if (requestedNumber(jlirecord::consoleEventExitVar, consoleEventExitCode)) {
        ::SetConsoleCtrlHandler(exitOnConsoleEvent, TRUE);
    }
}
#else
void handleConsoleEvents() {}
#endif

long long processId() {
#ifdef _WIN32
    return static_cast<long long>(::GetCurrentProcessId());
#else
    return static_cast<long long>(::getpid());
#endif
}

void sleepMilliseconds(int milliseconds) {
#ifdef _WIN32
    ::Sleep(static_cast<DWORD>(milliseconds));
#else
    ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
#endif
}

void writeBytes(const char* path, const std::string& bytes) {
    if (std::FILE* file = std::fopen(path, "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// A runtime asked to record the classes it loads writes them as it starts; one asked to make
// a static archive writes it and ends, as a real one does, without running the application.
// Returns true for the latter.
bool writeRequestedArchiveFiles(int argc, char** argv) {
    const std::string classList = "-XX:DumpLoadedClassList=";
    const std::string archive = "-XX:SharedArchiveFile=";
    const char* archivePath = nullptr;
    bool dump = false;
    for (int i = 0; argv != nullptr && i < argc; ++i) {
        if (std::strncmp(argv[i], classList.c_str(), classList.size()) == 0) {
            writeBytes(argv[i] + classList.size(), "java/lang/Object id: 0\nhello/Main id: 1\n");
        } else if (std::strncmp(argv[i], archive.c_str(), archive.size()) == 0) {
            archivePath = argv[i] + archive.size();
        }
        dump = dump || std::strcmp(argv[i], "-Xshare:dump") == 0;
    }
    if (dump && archivePath != nullptr) {
        writeBytes(archivePath, std::string("\xa2\xab\x0b\xf0", 4) + "stand-in archive");
    }
    return dump;
}

// What a Java application does after its record: wait, end the process, or return a status.
int finish(int status) {
    int number = 0;
    if (requestedNumber(jlirecord::sleepVar, number)) {
        sleepMilliseconds(number);
    }
    if (requestedNumber(jlirecord::exitVar, number)) {
        std::fflush(nullptr);
        std::exit(number);
    }
    return status;
}

} // namespace

// The code page in which a runtime decodes every narrow string it receives.
void recordCodePage(Record& record) {
#ifdef _WIN32
    record.add("acp", static_cast<long long>(::GetACP()));
#else
    (void)record;
#endif
}

JLI_EXPORT int JLI_Launch(int argc, char** argv, int jargc, const char** jargv, int appclassc,
                          const char** appclassv, const char* fullversion, const char* dotversion,
                          const char* pname, const char* lname, unsigned char javaargs,
                          unsigned char cpwildcard, unsigned char javaw, int ergo) {
    int status = 0;
    requestedNumber(jlirecord::statusVar, status);
    handleConsoleEvents();
    if (writeRequestedArchiveFiles(argc, argv)) {
        return 0;
    }
    std::string recordPath;
    if (!readEnv(jlirecord::recordFileVar, recordPath)) {
        return finish(status);
    }

    Record record;
    record.add("argc", argc);
    for (int i = 0; argv != nullptr && i < argc; ++i) {
        record.add("argv[" + std::to_string(i) + "]", argv[i]);
    }
    if (argv != nullptr && argc >= 0) {
        record.add("argv[argc]", nullness(argv[argc]));
    }
    record.add("jargc", jargc);
    recordList(record, "jargv", jargc, jargv);
    record.add("appclassc", appclassc);
    recordList(record, "appclassv", appclassc, appclassv);
    record.add("fullversion", fullversion);
    record.add("dotversion", dotversion);
    record.add("pname", pname);
    record.add("lname", lname);
    record.add("javaargs", javaargs);
    record.add("cpwildcard", cpwildcard);
    record.add("javaw", javaw);
    record.add("ergo", ergo);
    recordEnvironment(record);
    recordApi(record);
    recordCodePage(record);
    record.add("pid", processId());
    record.add("status", status);
    record.add("end", "1");
    record.write(recordPath);
    return finish(status);
}
