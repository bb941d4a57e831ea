#include "Dll.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <new>
#include <type_traits>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "TestRuntime.h"
#include "TestSupport.h"

namespace {

// The caller's text, dlerror()'s explanation, then what SysError appends for code 0, composed
// without the code under test.
std::string expectedMessage(const std::string& callerMessage, const std::string& explanation,
                            const void* function) {
    const std::string systemPart = SysError(tstrings::TextBuilder(), function, 0).what();
    return joinMessageParts(joinMessageParts(callerMessage, explanation), systemPart);
}

std::string bareMessage(const VtError<SysError>& error) {
    return error.bareMessage();
}

// "<file> at <function>" of an error's full text.
std::string raisedAt(const VtError<SysError>& error) {
    const std::string what = error.what();
    const std::size_t open = what.find('(');
    const std::size_t close = what.find(") at ", open);
    const std::size_t end = what.find("(): ", close);
    return what.substr(0, open) + what.substr(close + 1, end - close - 1);
}

TEST(LinuxDll, LoadFailureNamesTheCallThePathAndTheReason) {
    testsupport::TempDir temp;
    const std::string path = tstrings::toUtf8(FileUtils::joinPath(temp.path(), L"libabsent.so"));
    try {
        Dll dll{tstrings::TextBuilder(path)};
        FAIL() << "loaded " << path;
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ(
            bareMessage(error),
            expectedMessage("dlopen(" + path + ") failed",
                            path + ": cannot open shared object file: No such file or directory",
                            functionAddress(&::dlopen)));
        EXPECT_EQ(raisedAt(error), "Dll.cpp at {anonymous}::loadLibrary");
    }
}

TEST(LinuxDll, LookupFailureNamesTheCallThePathAndTheFunction) {
    const std::string path = tstrings::toUtf8(testruntime::jvmPath());
    const Dll dll{tstrings::TextBuilder(path)};
    try {
        const DllFunction<void*> function(dll, tstrings::TextBuilder() << L"JLI_Launch");
        FAIL() << "found JLI_Launch in " << path;
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ(bareMessage(error), expectedMessage("dlsym(" + path + ", JLI_Launch) failed",
                                                      path + ": undefined symbol: JLI_Launch",
                                                      functionAddress(&::dlsym)));
        EXPECT_EQ(raisedAt(error), "Dll.cpp at Dll::getFunction");
    }
}

TEST(LinuxDll, CopyOfAnUnloadedLibraryFailsNamingThePath) {
    const std::string path = tstrings::toUtf8(testruntime::jvmPath());
    // This object's reference is dropped behind its back below, so it must never release it:
    // it lives, unreleased, in static storage.
    static std::aligned_storage_t<sizeof(Dll), alignof(Dll)> storage;
    const Dll* const orphan = new (&storage) Dll(tstrings::TextBuilder(path));
    void* const module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(::dlclose(module), 0);
    ASSERT_EQ(::dlclose(module), 0);
    ASSERT_EQ(::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);

    try {
        const Dll copy(*orphan);
        FAIL() << "copied an unloaded library";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ(bareMessage(error),
                  expectedMessage("dlopen(" + path + ", RTLD_NOLOAD) failed",
                                  "The library is not loaded", functionAddress(&::dlopen)));
        EXPECT_EQ(raisedAt(error), "Dll.cpp at Dll::Dll");
    }
    EXPECT_EQ(::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(LinuxDll, EmptyPathLoadsNothingInsteadOfTheProgramItself) {
    try {
        Dll dll(tstrings::TextBuilder() << L"");
        FAIL() << "loaded the empty path";
    } catch (const VtError<SysError>& error) {
        EXPECT_EQ(bareMessage(error), expectedMessage("dlopen() failed", "No library path",
                                                      functionAddress(&::dlopen)));
    }
}

TEST(LinuxDll, SystemLibraryIsLoadedByFullPathFromTheSystemDirectory) {
    const Dll libc(tstrings::TextBuilder() << L"libc.so.6", Dll::SystemDirTag());
    EXPECT_EQ(libc.getPath(), SysInfo::getSystemDir() + L"/libc.so.6");
    void* const loaded = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(libc.getFunction("getpid", true), ::dlsym(loaded, "getpid"));
    ::dlclose(loaded);
}

} // namespace
