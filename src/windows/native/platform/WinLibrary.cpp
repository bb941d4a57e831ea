// Dynamic libraries on Windows: LoadLibraryW, GetModuleHandleExW, GetProcAddress, FreeLibrary.
#include "WinApi.h"

#include "Library.h"

namespace Library {

namespace {

// Call right after the failed call: making the call's text may change the code.
void takeCode(Failure& failure, const void* function) {
    failure.code = ::GetLastError();
    failure.function = function;
}

} // namespace

Handle load(const tstring& path, Failure& failure) {
    const HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr) {
        takeCode(failure, functionAddress(&::LoadLibraryW));
        failure.message << L"LoadLibraryW(" << path << L") failed";
    }
    return module;
}

Handle addReference(const tstring& path, Failure& failure) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(0, path.c_str(), &module)) {
        takeCode(failure, functionAddress(&::GetModuleHandleExW));
        failure.message << L"GetModuleHandleExW(" << path << L") failed";
        return nullptr;
    }
    return module;
}

void* findSymbol(Handle library, const tstring& path, const std::string& name, Failure& failure) {
    const FARPROC function = ::GetProcAddress(static_cast<HMODULE>(library), name.c_str());
    if (function == nullptr) {
        takeCode(failure, functionAddress(&::GetProcAddress));
        failure.message << L"GetProcAddress(" << path << L", " << tstrings::fromUtf8(name)
                        << L") failed";
    }
    return const_cast<void*>(functionAddress(function));
}

void release(Handle library) noexcept {
    ::FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace Library
