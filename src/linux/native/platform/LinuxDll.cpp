// Dynamic libraries on Linux: dlopen, dlsym, dlclose.
#include "Dll.h"

#include <dlfcn.h>

#include "FileUtils.h"
#include "SysInfo.h"

namespace {

// The dl functions explain a failure through dlerror(), not errno. That explanation ("cannot
// open shared object file: No such file or directory", "undefined symbol: ...") is what the
// user needs, so it joins the caller's message, and the error code is 0. Read it right after
// the failed call; where it is empty the caller's own explanation stands in.
std::string lastDlError() {
    const char* const text = ::dlerror();
    return text != nullptr ? text : "";
}

SysError dlError(const tstrings::TextBuilder& message, const void* function,
                 const std::string& explanation, const char* fallbackExplanation = "") {
    const std::string text =
        joinMessageParts(message.utf8(), !explanation.empty() ? explanation : fallbackExplanation);
    return SysError(tstrings::TextBuilder(text), function, 0);
}

UniqueModuleHandle loadLibrary(const tstring& path) {
    if (path.empty()) {
        // dlopen("") would hand out the program itself.
        VT_RAISE(dlError(tstrings::TextBuilder() << L"dlopen() failed", functionAddress(&::dlopen),
                         "No library path"));
    }
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const std::string explanation = lastDlError();
        VT_RAISE(dlError(tstrings::TextBuilder() << L"dlopen(" << path << L") failed",
                         functionAddress(&::dlopen), explanation));
    }
    return UniqueModuleHandle(module);
}

} // namespace

void UniqueModuleHandle::reset(Handle newHandle) noexcept {
    const Handle old = handle;
    handle = newHandle;
    if (old != nullptr) {
        ::dlclose(old);
    }
}

Dll::Dll(const tstrings::TextBuilder& pathText) : path(pathText.text()) {
    handle = loadLibrary(path);
}

Dll::Dll(const tstrings::TextBuilder& name, SystemDirTag)
    : path(FileUtils::joinPath(SysInfo::getSystemDir(), name.text())) {
    handle = loadLibrary(path);
}

// RTLD_NOLOAD only finds a module that is still loaded, and then counts one more reference.
Dll::Dll(const Dll& other) : path(other.path) {
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        const std::string explanation = lastDlError();
        VT_RAISE(dlError(tstrings::TextBuilder() << L"dlopen(" << path << L", RTLD_NOLOAD) failed",
                         functionAddress(&::dlopen), explanation, "The library is not loaded"));
    }
    handle.reset(module);
}

void* Dll::getFunction(const std::string& name, bool mustExist) const {
    lastDlError(); // a stale failure must not be taken for this one
    void* const function = ::dlsym(handle.get(), name.c_str());
    if (function == nullptr && mustExist) {
        const std::string explanation = lastDlError();
        VT_RAISE(dlError(tstrings::TextBuilder() << L"dlsym(" << path << L", "
                                                 << tstrings::fromUtf8(name) << L") failed",
                         functionAddress(&::dlsym), explanation));
    }
    return function;
}
