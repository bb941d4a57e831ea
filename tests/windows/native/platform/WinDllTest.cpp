#include "WinApi.h"

#include "Dll.h"

#include <gtest/gtest.h>

#include <new>
#include <type_traits>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"
#include "TestRuntime.h"
#include "TestSupport.h"

namespace {

// What SysError appends for this function and code, composed without the code under test.
std::string expectedMessage(const tstring& callerMessage, const void* function, DWORD code) {
    const std::string systemPart = SysError(tstrings::TextBuilder(), function, code).what();
    return joinMessageParts(tstrings::toUtf8(callerMessage), systemPart);
}

std::string codeMark(DWORD code) {
    return ". System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (";
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

TEST(WinDll, LoadFailureNamesTheCallAndThePath) {
    testsupport::TempDir temp;
    const tstring path = FileUtils::joinPath(temp.path(), L"absent.dll");
    try {
        Dll dll(tstrings::TextBuilder() << path);
        FAIL() << "loaded " << tstrings::toUtf8(path);
    } catch (const VtError<SysError>& error) {
        const tstring caller = L"LoadLibraryW(" + path + L") failed";
        EXPECT_EQ(bareMessage(error),
                  expectedMessage(caller, functionAddress(&::LoadLibraryW), ERROR_MOD_NOT_FOUND));
        EXPECT_EQ(bareMessage(error).rfind(tstrings::toUtf8(caller) + codeMark(126), 0), 0u);
        EXPECT_EQ(raisedAt(error), "Dll.cpp at {anonymous}::loadLibrary");
    }
}

TEST(WinDll, LookupFailureNamesTheCallThePathAndTheFunction) {
    const tstring path = testruntime::jvmPath();
    const Dll dll(tstrings::TextBuilder() << path);
    try {
        const DllFunction<void*> function(dll, tstrings::TextBuilder() << L"JLI_Launch");
        FAIL() << "found JLI_Launch in " << tstrings::toUtf8(path);
    } catch (const VtError<SysError>& error) {
        const tstring caller = L"GetProcAddress(" + path + L", JLI_Launch) failed";
        EXPECT_EQ(bareMessage(error), expectedMessage(caller, functionAddress(&::GetProcAddress),
                                                      ERROR_PROC_NOT_FOUND));
        EXPECT_EQ(bareMessage(error).rfind(tstrings::toUtf8(caller) + codeMark(127), 0), 0u);
        EXPECT_EQ(raisedAt(error), "Dll.cpp at Dll::getFunction");
    }
}

TEST(WinDll, CopyOfAnUnloadedLibraryFailsNamingThePath) {
    const tstring path = testruntime::jvmPath();
    // This object's reference is dropped behind its back below, so it must never release it:
    // it lives, unreleased, in static storage.
    static std::aligned_storage_t<sizeof(Dll), alignof(Dll)> storage;
    const Dll* const orphan = new (&storage) Dll(tstrings::TextBuilder() << path);
    const HMODULE module = ::GetModuleHandleW(path.c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(::FreeLibrary(module));
    ASSERT_EQ(::GetModuleHandleW(path.c_str()), nullptr);

    try {
        const Dll copy(*orphan);
        FAIL() << "copied an unloaded library";
    } catch (const VtError<SysError>& error) {
        const tstring caller = L"GetModuleHandleExW(" + path + L") failed";
        EXPECT_EQ(
            bareMessage(error),
            expectedMessage(caller, functionAddress(&::GetModuleHandleExW), ERROR_MOD_NOT_FOUND));
        EXPECT_EQ(bareMessage(error).rfind(tstrings::toUtf8(caller) + codeMark(126), 0), 0u);
        EXPECT_EQ(raisedAt(error), "Dll.cpp at Dll::Dll");
    }
    EXPECT_EQ(::GetModuleHandleW(path.c_str()), nullptr);
}

TEST(WinDll, SystemLibraryIsLoadedByFullPathFromTheSystemDirectory) {
    const Dll kernel32(tstrings::TextBuilder() << L"kernel32.dll", Dll::SystemDirTag());
    EXPECT_EQ(kernel32.getPath(), SysInfo::getSystemDir() + L"\\kernel32.dll");
    EXPECT_EQ(kernel32.getFunction("GetCurrentProcessId", true),
              reinterpret_cast<void*>(
                  ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetCurrentProcessId")));
}

} // namespace
