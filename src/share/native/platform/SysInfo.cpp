#include "SysInfo.h"

namespace SysInfo {

tstring getEnvVariable(const tstring& name) {
    return readEnvVariable(name, nullptr);
}

tstring getEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& defaultValue) {
    bool notFound = false;
    const tstring value = readEnvVariable(name, &notFound);
    return notFound ? defaultValue : value;
}

} // namespace SysInfo
