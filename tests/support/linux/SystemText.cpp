#include <cstdlib>
#include <cstring>

#include "ErrorHandling.h"
#include "TestSupport.h"

namespace testsupport {

std::string systemDescription(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

const void* systemLibraryFunction() {
    return functionAddress(&setenv);
}

} // namespace testsupport
