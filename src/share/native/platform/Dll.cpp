#include "Dll.h"

#include "FileUtils.h"
#include "Library.h"
#include "SysInfo.h"

namespace {

SysError failureError(Library::Failure& failure) {
    failure.call << L" failed";
    if (!failure.explanation.empty()) {
        failure.call =
            tstrings::TextBuilder(joinMessageParts(failure.call.utf8(), failure.explanation));
    }
    return SysError(failure.call, failure.function, failure.code);
}

UniqueModuleHandle loadLibrary(const tstring& path) {
    Library::Failure failure;
    const Library::Handle module = Library::load(path, failure);
    if (module == nullptr) {
        VT_RAISE(failureError(failure));
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
        VT_RAISE(failureError(failure));
    }
    handle.reset(module);
}

void* Dll::getFunction(const std::string& name, bool mustExist) const {
    Library::Failure failure;
    void* const function = Library::findSymbol(handle.get(), path, name, failure);
    if (function == nullptr && mustExist) {
        VT_RAISE(failureError(failure));
    }
    return function;
}
