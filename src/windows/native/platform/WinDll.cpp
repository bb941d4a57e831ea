// Dynamic libraries on Windows: LoadLibraryW, GetModuleHandleExW, GetProcAddress, FreeLibrary.
#include "WinApi.h"

#include "Dll.h"
#include "FileUtils.h"
#include "SysInfo.h"

namespace {

HMODULE asModule(UniqueModuleHandle::Handle handle) {
    return static_cast<HMODULE>(handle);
}

UniqueModuleHandle loadLibrary(const tstring& path) {
    const HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr) {
        const DWORD error = ::GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder() << L"LoadLibraryW(" << path << L") failed",
                          functionAddress(&::LoadLibraryW), error));
    }
    return UniqueModuleHandle(module);
}

} // namespace

void UniqueModuleHandle::reset(Handle newHandle) noexcept {
    const Handle old = handle;
    handle = newHandle;
    if (old != nullptr) {
        ::FreeLibrary(asModule(old));
    }
}

Dll::Dll(const tstrings::TextBuilder& pathText) : path(pathText.text()) {
    handle = loadLibrary(path);
}

Dll::Dll(const tstrings::TextBuilder& name, SystemDirTag)
    : path(FileUtils::joinPath(SysInfo::getSystemDir(), name.text())) {
    handle = loadLibrary(path);
}

Dll::Dll(const Dll& other) : path(other.path) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(0, path.c_str(), &module)) {
        const DWORD error = ::GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder() << L"GetModuleHandleExW(" << path << L") failed",
                          functionAddress(&::GetModuleHandleExW), error));
    }
    handle.reset(module);
}

void* Dll::getFunction(const std::string& name, bool mustExist) const {
    const FARPROC function = ::GetProcAddress(asModule(handle.get()), name.c_str());
    if (function == nullptr && mustExist) {
        const DWORD error = ::GetLastError();
        VT_RAISE(SysError(tstrings::TextBuilder() << L"GetProcAddress(" << path << L", "
                                                  << tstrings::fromUtf8(name) << L") failed",
                          functionAddress(&::GetProcAddress), error));
    }
    return const_cast<void*>(functionAddress(function));
}
