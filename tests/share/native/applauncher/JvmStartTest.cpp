#include "JvmLauncher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JliRecord.h"
#include "SysInfo.h"
#include "TestRuntime.h"
#include "TestSupport.h"

// --- the platform's own view of modules, exports, the environment and its load errors, apart
// from the code under test
#ifdef _WIN32
#include "WinApi.h"

namespace {
bool isLoaded(const tstring& path) {
    return ::GetModuleHandleW(path.c_str()) != nullptr;
}
const void* exportedFromExecutable(const char* name) {
    return functionAddress(::GetProcAddress(::GetModuleHandleW(nullptr), name));
}
void unsetEnv(const tstring& name) {
    ::SetEnvironmentVariableW(name.c_str(), nullptr);
}
void keepOtherCopyOfTheTestRuntimeLoaded() {}
std::string expectedLoadFailure(const tstring& path) {
    const std::string systemPart =
        SysError(tstrings::TextBuilder(), functionAddress(&::LoadLibraryW), ERROR_MOD_NOT_FOUND)
            .what();
    return joinMessageParts(tstrings::toUtf8(L"LoadLibraryW(" + path + L") failed"), systemPart);
}
std::string expectedLookupFailure(const tstring& path) {
    const std::string systemPart =
        SysError(tstrings::TextBuilder(), functionAddress(&::GetProcAddress), ERROR_PROC_NOT_FOUND)
            .what();
    return joinMessageParts(tstrings::toUtf8(L"GetProcAddress(" + path + L", JLI_Launch) failed"),
                            systemPart);
}
} // namespace
#else
#include <dlfcn.h>
#include <stdlib.h>

namespace {
bool isLoaded(const tstring& path) {
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module != nullptr) {
        ::dlclose(module);
    }
    return module != nullptr;
}
const void* exportedFromExecutable(const char* name) {
    void* const self = ::dlopen(nullptr, RTLD_NOW);
    const void* const address = self != nullptr ? ::dlsym(self, name) : nullptr;
    if (self != nullptr) {
        ::dlclose(self);
    }
    return address;
}
void unsetEnv(const tstring& name) {
    ::unsetenv(tstrings::toUtf8(name).c_str());
}
// The dynamic linker never unloads the first library that defines a unique symbol (the test
// runtime has libstdc++'s digit table of std::to_string). Let the built copy be that one, for
// good, so that the copies the tests load can go again.
void keepOtherCopyOfTheTestRuntimeLoaded() {
    static void* const pinned =
        ::dlopen(tstrings::toUtf8(testruntime::jliPath()).c_str(), RTLD_NOW);
    EXPECT_NE(pinned, nullptr);
}
std::string expectedLoadFailure(const tstring& path) {
    const std::string systemPart =
        SysError(tstrings::TextBuilder(), functionAddress(&::dlopen), 0).what();
    const std::string utf8 = tstrings::toUtf8(path);
    return joinMessageParts(
        joinMessageParts("dlopen(" + utf8 + ") failed",
                         utf8 + ": cannot open shared object file: No such file or directory"),
        systemPart);
}
std::string expectedLookupFailure(const tstring& path) {
    const std::string systemPart =
        SysError(tstrings::TextBuilder(), functionAddress(&::dlsym), 0).what();
    const std::string utf8 = tstrings::toUtf8(path);
    return joinMessageParts(joinMessageParts("dlsym(" + utf8 + ", JLI_Launch) failed",
                                             utf8 + ": undefined symbol: JLI_Launch"),
                            systemPart);
}
} // namespace
#endif
// ---

namespace {

// Sets (or, without a value, removes) an environment variable for one test and puts the
// previous state back.
class ScopedEnv {
public:
    ScopedEnv(const tstring& name, const std::optional<tstring>& value)
        : name(name), previous(SysInfo::getEnvVariable(std::nothrow, name, unsetMark())) {
        set(value);
    }
    ~ScopedEnv() { set(previous == unsetMark() ? std::nullopt : std::optional<tstring>(previous)); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    static tstring unsetMark() { return L"\x01unset"; }
    void set(const std::optional<tstring>& value) {
        if (value) {
            SysInfo::setEnvVariable(name, *value);
        } else {
            unsetEnv(name);
        }
    }
    tstring name;
    tstring previous;
};

TEST(JvmLauncherApi, OneConstantTableWithCloseHandleFirstAndInitLast) {
    const JvmlLauncherFunctions* const api = jvmLauncherGetAPI();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api, jvmLauncherGetAPI());

    const void* slots[3];
    static_assert(sizeof(slots) == sizeof(*api), "three pointers");
    std::memcpy(slots, api, sizeof(slots));
    EXPECT_EQ(slots[0], functionAddress(&closeHandle));
    EXPECT_EQ(slots[1], functionAddress(&getJvmlLauncherDataSize));
    EXPECT_EQ(slots[2], functionAddress(&initJvmlLauncherData));
}

TEST(JvmLauncherApi, ExecutableExportsTheTableUnderItsPlainName) {
    EXPECT_EQ(exportedFromExecutable("jvmLauncherGetAPI"), functionAddress(&jvmLauncherGetAPI));
}

// --- jvmLauncherBuildData against a table that counts what it is asked

class BuildDataWithCountingTable : public ::testing::Test {
protected:
    BuildDataWithCountingTable() { current = this; }
    ~BuildDataWithCountingTable() override { current = nullptr; }

    static void close(void* handle) { current->called("closeHandle", handle); }

    static int size(void* handle) {
        current->called("getJvmlLauncherDataSize", handle);
        return current->sizeAnswer;
    }

    static JvmlLauncherData* init(void* handle, void* buffer, int bufferSize) {
        current->called("initJvmlLauncherData " + std::to_string(bufferSize), handle);
        if (current->initFails) {
            return nullptr;
        }
        std::memset(buffer, 0xAB, static_cast<std::size_t>(bufferSize));
        return static_cast<JvmlLauncherData*>(buffer);
    }

    void called(const std::string& call, void* handle) {
        calls.push_back(call);
        EXPECT_EQ(handle, fakeHandle) << call;
    }

    static BuildDataWithCountingTable* current;
    const JvmlLauncherFunctions table = {close, size, init};
    int handleTarget = 0;
    void* const fakeHandle = &handleTarget;
    int sizeAnswer = 48;
    bool initFails = false;
    std::vector<std::string> calls;
};

BuildDataWithCountingTable* BuildDataWithCountingTable::current = nullptr;

TEST_F(BuildDataWithCountingTable, NullHandleCallsNothing) {
    int sizeOut = 7;
    EXPECT_EQ(jvmLauncherBuildData(&table, nullptr, &sizeOut), nullptr);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(sizeOut, 7);
}

TEST_F(BuildDataWithCountingTable, SizeThatIsNotPositiveStillClosesTheHandle) {
    for (const int answer : {0, -1}) {
        SCOPED_TRACE(answer);
        calls.clear();
        sizeAnswer = answer;
        int sizeOut = 7;
        EXPECT_EQ(jvmLauncherBuildData(&table, fakeHandle, &sizeOut), nullptr);
        EXPECT_EQ(calls, (std::vector<std::string>{"getJvmlLauncherDataSize", "closeHandle"}));
        EXPECT_EQ(sizeOut, 7);
    }
}

TEST_F(BuildDataWithCountingTable, FailedFillStillClosesTheHandle) {
    initFails = true;
    int sizeOut = 7;
    EXPECT_EQ(jvmLauncherBuildData(&table, fakeHandle, &sizeOut), nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"getJvmlLauncherDataSize", "initJvmlLauncherData 48",
                                               "closeHandle"}));
    EXPECT_EQ(sizeOut, 7);
}

TEST_F(BuildDataWithCountingTable, FilledBlockGoesToTheCallerWithItsSize) {
    int sizeOut = 7;
    JvmlLauncherData* const data = jvmLauncherBuildData(&table, fakeHandle, &sizeOut);
    ASSERT_NE(data, nullptr);
    const std::string bytes(reinterpret_cast<const char*>(data), 48);
    std::free(data);
    EXPECT_EQ(bytes, std::string(48, '\xAB'));
    EXPECT_EQ(sizeOut, 48);
    EXPECT_EQ(calls, (std::vector<std::string>{"getJvmlLauncherDataSize", "initJvmlLauncherData 48",
                                               "closeHandle"}));

    calls.clear();
    JvmlLauncherData* const withoutSize = jvmLauncherBuildData(&table, fakeHandle, nullptr);
    EXPECT_NE(withoutSize, nullptr);
    std::free(withoutSize);
    EXPECT_EQ(calls.size(), 3u);
}

TEST(JvmLauncherBuildData, PacksAJvmThroughTheOwnTable) {
    testsupport::LogRecorder log;
    Jvm jvm;
    jvm.setLauncherLibPath(L"C:\\r\\bin\\jli.dll");
    jvm.appendArgument(L"C:\\a.exe").appendArgument(L"-Dx");
    int size = 0;
    JvmlLauncherData* const data =
        jvmLauncherBuildData(jvmLauncherGetAPI(), makeLaunchData(jvm).release(), &size);
    ASSERT_NE(data, nullptr);
    const std::string libPath = data->libPath;
    const int argCount = data->argCount;
    std::free(data);
    EXPECT_EQ(size, 94);
    EXPECT_EQ(libPath, "C:\\r\\bin\\jli.dll");
    EXPECT_EQ(argCount, 2);
    EXPECT_TRUE(log.at(L"ERROR").empty());
}

// --- Jvm::launch with the test runtime

// A runtime directory whose library path leaves the buffer's argument array on an odd address,
// as paths of most lengths do; the runtime must still get an ordinary argv.
tstring runtimeDirLeavingArgumentsUnaligned(const tstring& parent) {
    tstring dir = FileUtils::joinPath(parent, L"runtime");
    while ((sizeof(JvmlLauncherData) + tstrings::toUtf8(testruntime::jliPath(dir)).size() + 1) %
               sizeof(void*) !=
           1) {
        dir += L'x';
    }
    return dir;
}

class JvmLaunch : public ::testing::Test {
protected:
    static void SetUpTestSuite() { keepOtherCopyOfTheTestRuntimeLoaded(); }

    JvmLaunch() {
        testruntime::install(runtimeDir);
        jvm.setLauncherLibPath(testruntime::jliPath(runtimeDir));
    }

    std::map<std::string, std::string> record() const {
        return jlirecord::parse(testsupport::readFile(recordPath));
    }

    // The TRACE lines about the buffer and the library, in order.
    tstring_array bufferAndLibraryTrace() const {
        tstring_array result;
        for (const tstring& message : log.messages(L"TRACE")) {
            for (const wchar_t* prefix : {L"Need ", L"Initialized ", L"JVM library: "}) {
                if (tstrings::startsWith(message, prefix, tstrings::Exact)) {
                    result.push_back(message);
                }
            }
        }
        return result;
    }

    // The buffer's trace lines must come first: the library is touched only after them.
    void expectBufferBuiltBeforeTheLibraryIsNamed(int bufferSize) const {
        const tstring size = tstrings::fromUtf8(std::to_string(bufferSize));
        const tstring need = L"Need " + size + L" bytes for JvmlLauncherData buffer";
        const tstring_array trace = bufferAndLibraryTrace();
        ASSERT_EQ(trace.size(), 4u);
        EXPECT_EQ(trace[0], need);
        EXPECT_EQ(trace[1], need);
        EXPECT_TRUE(
            tstrings::startsWith(trace[2], L"Initialized " + size + L" bytes at ", tstrings::Exact))
            << tstrings::toUtf8(trace[2]);
        EXPECT_EQ(trace[3], L"JVM library: \"" + jvm.getLauncherLibPath() + L"\"");
    }

    int bufferSize() const {
        void* const handle = makeLaunchData(jvm).release();
        const int size = getJvmlLauncherDataSize(handle);
        closeHandle(handle);
        return size;
    }

    testsupport::LogRecorder log;
    testsupport::TempDir temp;
    const tstring runtimeDir = runtimeDirLeavingArgumentsUnaligned(temp.path());
    const tstring recordPath = FileUtils::joinPath(temp.path(), L"record.txt");
    const ScopedEnv recordFile{L"VANTREL_TEST_RECORD", recordPath};
    const ScopedEnv noExit{L"VANTREL_TEST_EXIT", std::nullopt};
    const ScopedEnv noSleep{L"VANTREL_TEST_SLEEP_MS", std::nullopt};
    Jvm jvm;
};

TEST_F(JvmLaunch, StatusZeroReturnsAfterHandingOverCommandLineAndEnvironment) {
    const ScopedEnv status(L"VANTREL_TEST_STATUS", L"0");
    const ScopedEnv recordVars(L"VANTREL_TEST_RECORD_VARS",
                               L"VANTREL_JVMSTART_A,VANTREL_JVMSTART_B");
    const ScopedEnv varA(L"VANTREL_JVMSTART_A", std::nullopt);
    const ScopedEnv varB(L"VANTREL_JVMSTART_B", L"replaced");
    jvm.appendArgument(L"launcher")
        .appendArgument(L"-classpath")
        .appendArgument(L"a b.jar")
        .appendArgument(L"-Dvantrel.app-path=launcher")
        .appendArgument(L"Main")
        .appendArgument(L"")
        .appendArgument(L"-Dan.app.arg=x y");
    jvm.appendEnvVariable(L"VANTREL_JVMSTART_A", L"x=y; z")
        .appendEnvVariable(L"VANTREL_JVMSTART_B", L"second");
    const int size = bufferSize();
    log.clear();

    ASSERT_NO_THROW(jvm.launch());

    std::map<std::string, std::string> items = record();
    for (const char* environmentDependent :
         {"pid", "env.PATH", "env.LD_LIBRARY_PATH", "env.VANTREL_DEBUG", "acp"}) {
        items.erase(environmentDependent);
    }
    const std::map<std::string, std::string> expected = {
        {"argc", "7"},
        {"argv[0]", "launcher"},
        {"argv[1]", "-classpath"},
        {"argv[2]", "a b.jar"},
        {"argv[3]", "-Dvantrel.app-path=launcher"},
        {"argv[4]", "Main"},
        {"argv[5]", ""},
        {"argv[6]", "-Dan.app.arg=x y"},
        {"argv[argc]", "null"},
        {"jargc", "0"},
        {"jargv", "null"},
        {"appclassc", "0"},
        {"appclassv", "null"},
        {"fullversion", ""},
        {"dotversion", ""},
        {"pname", "java"},
        {"lname", "java"},
        {"javaargs", "0"},
        {"cpwildcard", "0"},
        {"javaw", "0"},
        {"ergo", "0"},
        {"env.VANTREL_JVMSTART_A", "x=y; z"},
        {"env.VANTREL_JVMSTART_B", "second"},
        {"exportsGetAPI", "1"},
        {"api", "nonnull"},
        {"api.closeHandle", "nonnull"},
        {"api.getJvmlLauncherDataSize", "nonnull"},
        {"api.initJvmlLauncherData", "nonnull"},
        {"status", "0"},
        {"end", "1"},
    };
    EXPECT_EQ(items, expected);

    // The pairs stay set in this process, and the library is released again.
    EXPECT_EQ(SysInfo::getEnvVariable(L"VANTREL_JVMSTART_A"), L"x=y; z");
    EXPECT_EQ(SysInfo::getEnvVariable(L"VANTREL_JVMSTART_B"), L"second");
    EXPECT_FALSE(isLoaded(jvm.getLauncherLibPath()));
    expectBufferBuiltBeforeTheLibraryIsNamed(size);
}

TEST_F(JvmLaunch, NonZeroStatusRaisesFailedToLaunchJvm) {
    jvm.appendArgument(L"launcher").appendArgument(L"Main");
    // 3221225477 arrives as a negative status.
    for (const wchar_t* status : {L"1", L"3221225477"}) {
        SCOPED_TRACE(tstrings::toUtf8(status));
        const ScopedEnv chosen(L"VANTREL_TEST_STATUS", status);
        try {
            jvm.launch();
            FAIL() << "launch returned";
        } catch (const VtError<std::runtime_error>& error) {
            EXPECT_EQ(std::string(error.bareMessage()), "Failed to launch JVM");
            EXPECT_TRUE(std::regex_match(
                error.what(),
                std::regex(R"(JvmLauncher\.cpp\(\d+\) at Jvm::launch\(\): Failed to launch JVM)")))
                << error.what();
        }
        EXPECT_EQ(record().at("status"), tstrings::toUtf8(status) == "1" ? "1" : "-1073741819");
        EXPECT_FALSE(isLoaded(jvm.getLauncherLibPath()));
    }
}

TEST_F(JvmLaunch, MissingLibraryFailsAfterTheBufferWasBuilt) {
    jvm.setLauncherLibPath(FileUtils::PathBuilder()
                           << temp.path() << L"absent" << testruntime::libFileName(L"jli"));
    jvm.appendArgument(L"launcher");
    const int size = bufferSize();
    log.clear();
    try {
        jvm.launch();
        FAIL() << "launch returned";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ(std::string(error.bareMessage()), expectedLoadFailure(jvm.getLauncherLibPath()));
    }
    EXPECT_FALSE(FileUtils::pathExists(recordPath));
    expectBufferBuiltBeforeTheLibraryIsNamed(size);
}

TEST_F(JvmLaunch, LibraryWithoutTheEntryFailsNamingPathAndEntry) {
    jvm.setLauncherLibPath(testruntime::jvmPath(runtimeDir));
    jvm.appendArgument(L"launcher");
    try {
        jvm.launch();
        FAIL() << "launch returned";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ(std::string(error.bareMessage()),
                  expectedLookupFailure(jvm.getLauncherLibPath()));
    }
    EXPECT_FALSE(isLoaded(jvm.getLauncherLibPath()));
}

// --- the debug lines, written by a child process to its standard error stream

class JvmStartDebugLines : public ::testing::Test {
protected:
    testsupport::ChildResult run(const std::optional<tstring>& debug,
                                 const std::optional<tstring>& exitCode = std::nullopt) const {
        testsupport::ChildResult result = testsupport::runChild(
            testsupport::fixturePath(L"jvmstartfixture"), {jliPath, arg0, arg1, name, value},
            {{L"VANTREL_DEBUG", debug},
             {L"VANTREL_TEST_RECORD", std::nullopt},
             {L"VANTREL_TEST_STATUS", std::nullopt},
             {L"VANTREL_TEST_EXIT", exitCode},
             {L"VANTREL_TEST_SLEEP_MS", std::nullopt}});
        result.err = testsupport::withUnixLineEnds(result.err);
        return result;
    }

    const tstring jliPath = testruntime::jliPath();
    const tstring arg0 = L"launcher path";
    const tstring arg1 = L"-Dvantrel.app-path=with \"quotes\" and spaces";
    tstring name = L"VANTREL_FIXTURE_VARIABLE";
    const tstring value = L"a=b; c \u00e9 \u6f22";
};

TEST_F(JvmStartDebugLines, ExactlyTrueWritesLibraryArgumentsAndEnvironmentInOrder) {
    const testsupport::ChildResult result = run(tstring(L"true"));
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.err,
              "jli lib: [" + tstrings::toUtf8(jliPath) +
                  "]\n"
                  "jli arg[0]: [launcher path]\n"
                  "jli arg[1]: [-Dvantrel.app-path=with \"quotes\" and spaces]\n"
                  "env var[0]: VANTREL_FIXTURE_VARIABLE=[a=b; c \xC3\xA9 \xE6\xBC\xA2]\n");
}

TEST_F(JvmStartDebugLines, PairThatCannotBeSetIsOnlyReportedAndTheJvmStartsAnyway) {
    name = L"VANTREL_FIXTURE=INVALID";
    // The runtime ends the process with 7: proof that JLI_Launch was called.
    const testsupport::ChildResult result = run(tstring(L"true"), tstring(L"7"));
    EXPECT_EQ(result.exitCode, 7u) << result.err;
    EXPECT_EQ(result.err, "jli lib: [" + tstrings::toUtf8(jliPath) +
                              "]\n"
                              "jli arg[0]: [launcher path]\n"
                              "jli arg[1]: [-Dvantrel.app-path=with \"quotes\" and spaces]\n"
                              "env var[0]: VANTREL_FIXTURE=INVALID=[a=b; c \xC3\xA9 \xE6\xBC\xA2]\n"
                              "SetEnvironmentVariable(0) failed\n");
}

TEST_F(JvmStartDebugLines, AnyOtherValueOrNoneWritesNothing) {
    for (const auto& debug : {std::optional<tstring>(L"TRUE"), std::optional<tstring>(L"1"),
                              std::optional<tstring>(L"true "), std::optional<tstring>()}) {
        SCOPED_TRACE(debug ? tstrings::toUtf8(*debug) : "unset");
        const testsupport::ChildResult result = run(debug);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
