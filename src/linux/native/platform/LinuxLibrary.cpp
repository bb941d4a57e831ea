// Dynamic libraries on Linux: dlopen, dlsym, dlclose.
#include "Library.h"

#include <dlfcn.h>

namespace Library {

namespace {

// The dl functions explain a failure through dlerror(), not errno. That explanation ("cannot
// open shared object file: No such file or directory", "undefined symbol: ...") is what the
// user needs, so it joins the message, and the error code is 0. Read it right after the failed
// call; where it is empty the fallback explanation stands in.
std::string lastDlError() {
    const char* const text = ::dlerror();
    return text != nullptr ? text : "";
}

void fail(Failure& failure, const void* function, const tstrings::TextBuilder& message,
          const std::string& explanation, const char* fallbackExplanation = "") {
    failure.function = function;
    failure.code = 0;
    failure.message = tstrings::TextBuilder(
        joinMessageParts(message.utf8(), !explanation.empty() ? explanation : fallbackExplanation));
}

} // namespace

Handle load(const tstring& path, Failure& failure) {
    if (path.empty()) {
        // dlopen("") would hand out the program itself.
        fail(failure, functionAddress(&::dlopen), tstrings::TextBuilder() << L"dlopen() failed",
             "No library path");
        return nullptr;
    }
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const std::string explanation = lastDlError();
        fail(failure, functionAddress(&::dlopen),
             tstrings::TextBuilder() << L"dlopen(" << path << L") failed", explanation);
    }
    return module;
}

// RTLD_NOLOAD only finds a module that is still loaded, and then counts one more reference.
Handle addReference(const tstring& path, Failure& failure) {
    void* const module = ::dlopen(tstrings::toUtf8(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        const std::string explanation = lastDlError();
        fail(failure, functionAddress(&::dlopen),
             tstrings::TextBuilder() << L"dlopen(" << path << L", RTLD_NOLOAD) failed", explanation,
             "The library is not loaded");
    }
    return module;
}

void* findSymbol(Handle library, const tstring& path, const std::string& name, Failure& failure) {
    lastDlError(); // a stale failure must not be taken for this one
    void* const function = ::dlsym(library, name.c_str());
    if (function == nullptr) {
        const std::string explanation = lastDlError();
        fail(failure, functionAddress(&::dlsym),
             tstrings::TextBuilder()
                 << L"dlsym(" << path << L", " << tstrings::fromUtf8(name) << L") failed",
             explanation);
    }
    return function;
}

void release(Handle library) noexcept {
    ::dlclose(library);
}

} // namespace Library
