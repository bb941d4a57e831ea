// Dynamic libraries on Linux: dlopen, dlsym, dlclose.
#include "Library.h"

#include <dlfcn.h>

namespace Library {

namespace {

// The dl functions explain a failure through dlerror(), not errno. That explanation ("cannot
// open shared object file: No such file or directory", "undefined symbol: ...") is what the
// user needs, so it joins the message, and the error code is 0. Call right after the failed
// call: only the dl functions change that explanation. Where it is empty the fallback stands in.
void fail(Failure& failure, const void* function, const tstrings::TextBuilder& message,
          const char* fallbackExplanation = "") {
    const char* const explanation = ::dlerror();
    failure.function = function;
    failure.message = tstrings::TextBuilder(joinMessageParts(
        message.utf8(), explanation && *explanation ? explanation : fallbackExplanation));
}

} // namespace

Handle load(const tstring& path, Failure& failure) {
    if (path.empty()) {
        // dlopen("") would hand out the program itself.
        failure.function = functionAddress(&::dlopen);
        failure.message << L"dlopen() failed. No library path";
        return nullptr;
    }
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        fail(failure, functionAddress(&::dlopen),
             tstrings::TextBuilder() << L"dlopen(" << path << L") failed");
    }
    return module;
}

// RTLD_NOLOAD only finds a module that is still loaded, and then counts one more reference.
Handle addReference(const tstring& path, Failure& failure) {
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        fail(failure, functionAddress(&::dlopen),
             tstrings::TextBuilder() << L"dlopen(" << path << L", RTLD_NOLOAD) failed",
             "The library is not loaded");
    }
    return module;
}

void* findSymbol(Handle library, const tstring& path, const std::string& name, Failure& failure) {
    ::dlerror(); // a stale failure must not be taken for this one
    void* const function = ::dlsym(library, name.c_str());
    if (function == nullptr) {
        fail(failure, functionAddress(&::dlsym),
             tstrings::TextBuilder()
                 << L"dlsym(" << path << L", " << tstrings::fromUtf8(name) << L") failed");
    }
    return function;
}

void release(Handle library) noexcept {
    ::dlclose(library);
}

} // namespace Library
