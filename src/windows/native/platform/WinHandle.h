#ifndef VANTREL_WINHANDLE_H
#define VANTREL_WINHANDLE_H

#include "WinApi.h"

// Kernel handles come in two flavours of "no handle": process, thread and job handles use
// null, file handles use INVALID_HANDLE_VALUE. The traits pick the right one.
struct NullHandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
};

struct FileHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// Single owner of a kernel handle; closes it when it goes.
template <class Traits>
class BasicUniqueHandle {
public:
    BasicUniqueHandle() noexcept : handle(Traits::invalid()) {}
    explicit BasicUniqueHandle(HANDLE handle) noexcept : handle(handle) {}
    ~BasicUniqueHandle() { reset(); }

    BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : handle(other.release()) {}
    BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    BasicUniqueHandle(const BasicUniqueHandle&) = delete;
    BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;

    HANDLE get() const noexcept { return handle; }
    bool valid() const noexcept { return handle != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives the handle up without closing it.
    HANDLE release() noexcept {
        const HANDLE result = handle;
        handle = Traits::invalid();
        return result;
    }

    // Closes the handle held so far and takes newHandle. A failed close can't be reported
    // from here and leaves nothing to recover.
    void reset(HANDLE newHandle = Traits::invalid()) noexcept {
        const HANDLE old = handle;
        handle = newHandle;
        if (old != Traits::invalid() && old != newHandle) {
            ::CloseHandle(old);
        }
    }

private:
    HANDLE handle;
};

typedef BasicUniqueHandle<NullHandleTraits> UniqueHandle;
typedef BasicUniqueHandle<FileHandleTraits> UniqueFileHandle;

#endif
