#ifndef VANTREL_LIBRARY_H
#define VANTREL_LIBRARY_H

#include <string>

#include "ErrorHandling.h"
#include "tstrings.h"

// The platform's dynamic library primitives, which Dll is written over. They raise nothing: a
// failed one returns null and tells why in its Failure.
namespace Library {

typedef void* Handle;

// The failed call as the platform made it ("LoadLibraryW(<path>) failed", "dlopen(<path>,
// RTLD_NOLOAD) failed"), with the explanation the platform gives apart from the code
// (dlerror()'s text), if any.
struct Failure : FailedCall {
    tstrings::TextBuilder message;
};

Handle load(const tstring& path, Failure& failure);
// One more reference to the module loaded from path, which must still be loaded.
Handle addReference(const tstring& path, Failure& failure);
// Null when the library has no such symbol.
void* findSymbol(Handle library, const tstring& path, const std::string& name, Failure& failure);
void release(Handle library) noexcept;

} // namespace Library

#endif
