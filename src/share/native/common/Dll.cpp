#include "Dll.h"

#include "FileUtils.h"
#include "Library.h"
#include "SysInfo.h"

namespace {

UniqueModuleHandle loadLibrary(const tstring& path) {
    Library::Failure failure;
    const Library::Handle module = Library::load(path, failure);
    if (module == nullptr) {
        VT_RAISE(SysError(failure.message, failure.function, failure.code));
    }
    return UniqueModuleHandle(module);
}

} // namespace

void UniqueModuleHandle::reset(Handle newHandle) noexcept {
    const Handle old = handle;
    handle = newHandle;
    if (old != nullptr) {
        Library::release(old);
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
    Library::Failure failure;
    const Library::Handle module = Library::addReference(path, failure);
    if (module == nullptr) {
        VT_RAISE(SysError(failure.message, failure.function, failure.code));
    }
    handle.reset(module);
}

void* Dll::getFunction(const std::string& name, bool mustExist) const {
    Library::Failure failure;
    void* const function = Library::findSymbol(handle.get(), path, name, failure);
    if (function == nullptr && mustExist) {
        VT_RAISE(SysError(failure.message, failure.function, failure.code));
    }
    return function;
}
