#ifndef VANTREL_DLL_H
#define VANTREL_DLL_H

#include <cstring>
#include <new>
#include <string>

#include "ErrorHandling.h"
#include "tstrings.h"

// Single owner of one reference to a loaded module; drops it when it goes. The release is
// the platform's (FreeLibrary, dlclose).
class UniqueModuleHandle {
public:
    typedef void* Handle;

    UniqueModuleHandle() noexcept : handle(nullptr) {}
    explicit UniqueModuleHandle(Handle handle) noexcept : handle(handle) {}
    ~UniqueModuleHandle() { reset(); }

    UniqueModuleHandle(UniqueModuleHandle&& other) noexcept : handle(other.release()) {}
    UniqueModuleHandle& operator=(UniqueModuleHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueModuleHandle(const UniqueModuleHandle&) = delete;
    UniqueModuleHandle& operator=(const UniqueModuleHandle&) = delete;

    Handle get() const noexcept { return handle; }
    explicit operator bool() const noexcept { return handle != nullptr; }

    // Gives the reference up without dropping it.
    Handle release() noexcept {
        const Handle result = handle;
        handle = nullptr;
        return result;
    }

    // Drops the reference held so far and takes newHandle.
    void reset(Handle newHandle = nullptr) noexcept;

private:
    Handle handle;
};

// One reference to a loaded dynamic library, released when the object goes.
class Dll {
public:
    // Selects the constructor that loads a bare library name from the system directory.
    struct SystemDirTag {};

    explicit Dll(const tstrings::TextBuilder& path);
    // Loads by full path, so the search order never picks up a file of the same name elsewhere.
    Dll(const tstrings::TextBuilder& name, SystemDirTag);
    // Takes its own reference to the module, which must still be loaded; loads nothing.
    Dll(const Dll& other);
    Dll& operator=(const Dll&) = delete;

    // Null when the function is absent and mustExist is false.
    void* getFunction(const std::string& name, bool mustExist) const;

    const tstring& getPath() const { return path; }

private:
    tstring path;
    UniqueModuleHandle handle;
};

// A looked-up address as the function pointer type T. Function pointers are not object
// pointers; copy the bits instead of casting.
template <class T>
T functionFromAddress(void* address) {
    static_assert(sizeof(T) == sizeof(address), "function pointers must fit a pointer");
    T function;
    std::memcpy(&function, &address, sizeof(function));
    return function;
}

// A function of a library together with its own reference to that library, so the function
// never outlives its code.
template <class T>
class DllFunction {
public:
    // The lookup is mandatory: an absent function raises here already.
    DllFunction(const Dll& lib, const tstrings::TextBuilder& name) : dll(lib), funcPtr(nullptr) {
        funcName = name.utf8();
        funcPtr = functionFromAddress<T>(dll.getFunction(funcName, true));
    }

    // For an optional function: an absent one leaves a null pointer, and only the conversion
    // raises.
    DllFunction(const Dll& lib, const tstrings::TextBuilder& name, const std::nothrow_t&)
        : dll(lib), funcPtr(nullptr) {
        funcName = name.utf8();
        funcPtr = functionFromAddress<T>(dll.getFunction(funcName, false));
    }

    DllFunction(const DllFunction&) = delete;
    DllFunction& operator=(const DllFunction&) = delete;

    bool isAvailable() const { return funcPtr != nullptr; }

    operator T() const {
        if (funcPtr == nullptr) {
            VT_RAISE(tstrings::TextBuilder()
                     << tstrings::fromUtf8(funcName) << L"() function is not available in "
                     << dll.getPath());
        }
        return funcPtr;
    }

private:
    Dll dll;
    T funcPtr;
    std::string funcName;
};

#endif
