#include "Dll.h"

#include <gtest/gtest.h>

#include <new>
#include <optional>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JliRecord.h"
#include "SysInfo.h"
#include "TestRuntime.h"
#include "TestSupport.h"

// --- the platform's own view of loaded modules and the environment, apart from the code under test
#ifdef _WIN32
#include "WinApi.h"

namespace {
bool isLoaded(const tstring& path) {
    return ::GetModuleHandleW(path.c_str()) != nullptr;
}
void unsetEnv(const tstring& name) {
    ::SetEnvironmentVariableW(name.c_str(), nullptr);
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
void unsetEnv(const tstring& name) {
    ::unsetenv(tstrings::toUtf8(name).c_str());
}
} // namespace
#endif
// ---

namespace {

typedef int (*JliLaunchFunction)(int, char**, int, const char**, int, const char**, const char*,
                                 const char*, const char*, const char*, unsigned char,
                                 unsigned char, unsigned char, int);

// Sets an environment variable for one test and puts the previous state back.
class ScopedEnv {
public:
    ScopedEnv(const tstring& name, const tstring& value)
        : name(name), previous(SysInfo::getEnvVariable(std::nothrow, name, unsetMark())) {
        SysInfo::setEnvVariable(name, value);
    }
    ~ScopedEnv() {
        if (previous == unsetMark()) {
            unsetEnv(name);
        } else {
            SysInfo::setEnvVariable(name, previous);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    static tstring unsetMark() { return L"\x01unset"; }
    tstring name;
    tstring previous;
};

// The position part of an error's full text: "<file> at <function>", the line left out.
std::string raisedAt(const std::runtime_error& error) {
    const std::string bare = dynamic_cast<const VtErrorBase&>(error).bareMessage();
    std::string what = error.what();
    EXPECT_GE(what.size(), bare.size() + 4);
    EXPECT_EQ(what.substr(what.size() - bare.size()), bare);
    what.erase(what.size() - bare.size());
    const std::size_t open = what.find('(');
    const std::size_t close = what.find(')', open);
    EXPECT_EQ(what.substr(what.size() - 4), "(): ");
    return what.substr(0, open) + what.substr(close + 1, what.size() - 4 - close - 1);
}

TEST(Dll, CopyKeepsTheModuleLoadedUntilTheLastReferenceGoes) {
    const tstring path = testruntime::jvmPath();
    ASSERT_FALSE(isLoaded(path));
    {
        std::optional<Dll> first;
        first.emplace(tstrings::TextBuilder() << path);
        EXPECT_TRUE(isLoaded(path));
        {
            const Dll copy(*first);
            EXPECT_EQ(copy.getPath(), path);
            first.reset();
            EXPECT_TRUE(isLoaded(path));
            EXPECT_NE(copy.getFunction("JNI_GetDefaultJavaVMInitArgs", true), nullptr);
        }
        EXPECT_FALSE(isLoaded(path));
    }
}

TEST(Dll, EveryLoadOfTheSameLibraryIsAReferenceOfItsOwn) {
    const tstring path = testruntime::jvmPath();
    std::optional<Dll> first;
    first.emplace(tstrings::TextBuilder() << path);
    {
        const Dll second(tstrings::TextBuilder() << path);
        first.reset();
        EXPECT_TRUE(isLoaded(path));
    }
    EXPECT_FALSE(isLoaded(path));
}

TEST(Dll, AbsentFunctionThatNeedNotExistIsNull) {
    const Dll dll(tstrings::TextBuilder() << testruntime::jvmPath());
    EXPECT_EQ(dll.getFunction("NoSuchFunction", false), nullptr);
    EXPECT_NE(dll.getFunction("JNI_GetDefaultJavaVMInitArgs", false), nullptr);
}

TEST(DllFunction, HoldsItsOwnReferenceToTheLibrary) {
    const tstring path = testruntime::jvmPath();
    {
        std::optional<Dll> dll;
        dll.emplace(tstrings::TextBuilder() << path);
        const DllFunction<int (*)(void*)> function(*dll, tstrings::TextBuilder()
                                                             << L"JNI_GetDefaultJavaVMInitArgs");
        dll.reset();
        ASSERT_TRUE(isLoaded(path));
        int (*const call)(void*) = function;
        EXPECT_EQ(call(nullptr), -1);
    }
    EXPECT_FALSE(isLoaded(path));
}

TEST(DllFunction, ConvertingAnAbsentOptionalFunctionRaisesNamingFunctionAndLibrary) {
    const tstring path = testruntime::jvmPath();
    const Dll dll(tstrings::TextBuilder() << path);
    const DllFunction<void*> function(dll, tstrings::TextBuilder() << L"NoSuchFunction",
                                      std::nothrow);
    EXPECT_FALSE(function.isAvailable());
    try {
        const void* address = function;
        FAIL() << "converted to " << address;
    } catch (const VtError<std::runtime_error>& error) {
        EXPECT_EQ(std::string(error.bareMessage()),
                  "NoSuchFunction() function is not available in " + tstrings::toUtf8(path));
        EXPECT_EQ(raisedAt(error), "Dll.h at DllFunction<T>::operator T");
    }
}

TEST(DllFunction, PresentOptionalFunctionConverts) {
    const Dll dll(tstrings::TextBuilder() << testruntime::jvmPath());
    const DllFunction<void*> function(
        dll, tstrings::TextBuilder() << L"JNI_GetDefaultJavaVMInitArgs", std::nothrow);
    ASSERT_TRUE(function.isAvailable());
    const void* address = function;
    EXPECT_EQ(address, dll.getFunction("JNI_GetDefaultJavaVMInitArgs", true));
}

TEST(DllFunction, AbsentMandatoryFunctionRaisesWhileConstructingAndKeepsNoReference) {
    const tstring path = testruntime::jvmPath();
    {
        const Dll dll(tstrings::TextBuilder() << path);
        EXPECT_THROW(DllFunction<void*>(dll, tstrings::TextBuilder() << L"NoSuchFunction"),
                     VtError<SysError>);
    }
    EXPECT_FALSE(isLoaded(path));
}

class TestRuntimeJli : public ::testing::Test {
protected:
    testsupport::TempDir temp;
    tstring recordPath = FileUtils::joinPath(temp.path(), L"record.txt");

    int launch(const std::vector<std::string>& args) {
        std::vector<std::string> storage(args);
        std::vector<char*> argv;
        for (std::string& arg : storage) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        const Dll jli(tstrings::TextBuilder() << testruntime::jliPath());
        const DllFunction<JliLaunchFunction> jliLaunch(jli, tstrings::TextBuilder()
                                                                << L"JLI_Launch");
        const JliLaunchFunction call = jliLaunch;
        return call(static_cast<int>(args.size()), argv.data(), 0, nullptr, 0, nullptr, "", "",
                    "java", "java", 0, 0, 0, 0);
    }

    std::map<std::string, std::string> record() {
        return jlirecord::parse(testsupport::readFile(recordPath));
    }
};

TEST_F(TestRuntimeJli, RecordsTheCallAndReturnsTheChosenStatus) {
    const ScopedEnv file(L"VANTREL_TEST_RECORD", recordPath);
    const ScopedEnv status(L"VANTREL_TEST_STATUS", L"3");
    const ScopedEnv extraNames(L"VANTREL_TEST_RECORD_VARS", L"VANTREL_TEST_A,,VANTREL_TEST_B");
    const ScopedEnv extra(L"VANTREL_TEST_A", L"50%\r\nof it");
    const ScopedEnv debug(L"VANTREL_DEBUG", L"true");

    EXPECT_EQ(launch({"C:\\app\\hello.exe", "-Dvantrel.app-path=x=y", ""}), 3);

    const auto items = record();
    EXPECT_EQ(items.at("argc"), "3");
    EXPECT_EQ(items.at("argv[0]"), "C:\\app\\hello.exe");
    EXPECT_EQ(items.at("argv[1]"), "-Dvantrel.app-path=x=y");
    EXPECT_EQ(items.at("argv[2]"), "");
    EXPECT_EQ(items.at("argv[argc]"), "null");
    EXPECT_EQ(items.at("jargc"), "0");
    EXPECT_EQ(items.at("jargv"), "null");
    EXPECT_EQ(items.at("appclassc"), "0");
    EXPECT_EQ(items.at("appclassv"), "null");
    EXPECT_EQ(items.at("fullversion"), "");
    EXPECT_EQ(items.at("dotversion"), "");
    EXPECT_EQ(items.at("pname"), "java");
    EXPECT_EQ(items.at("lname"), "java");
    EXPECT_EQ(items.at("javaargs"), "0");
    EXPECT_EQ(items.at("cpwildcard"), "0");
    EXPECT_EQ(items.at("javaw"), "0");
    EXPECT_EQ(items.at("ergo"), "0");
    EXPECT_EQ(items.at("env.VANTREL_DEBUG"), "true");
    EXPECT_EQ(items.at("env.VANTREL_TEST_A"), "50%\r\nof it");
    EXPECT_EQ(items.at("env.PATH"), tstrings::toUtf8(SysInfo::getEnvVariable(L"PATH")));
    EXPECT_EQ(items.count("env.VANTREL_TEST_B"), 0u);
    EXPECT_EQ(items.count("exportsGetAPI"), 1u);
    EXPECT_EQ(items.at("status"), "3");
    EXPECT_EQ(items.at("end"), "1");
}

TEST_F(TestRuntimeJli, StatusWiderThanAnIntWrapsLikeAnExitCode) {
    const ScopedEnv file(L"VANTREL_TEST_RECORD", recordPath);
    const ScopedEnv status(L"VANTREL_TEST_STATUS", L"3221225477");
    EXPECT_EQ(static_cast<unsigned int>(launch({"a"})), 3221225477u);
    EXPECT_EQ(record().at("argv[0]"), "a");
}

TEST(JliRecord, EscapingRoundTripsEveryByteThatCouldBreakALine) {
    const std::string value = "%0A%\n\r=%25";
    EXPECT_EQ(jlirecord::escape(value), "%250A%25%0A%0D=%2525");
    EXPECT_EQ(jlirecord::parse("k=" + jlirecord::escape(value) + "\nnoequals\n").at("k"), value);
}

} // namespace
