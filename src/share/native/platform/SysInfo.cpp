#include "SysInfo.h"

namespace SysInfo {

namespace {

tstring getEnvVariableImpl(const tstring& name) {
    tstring value;
    FailedCall failure;
    const EnvVariableState state = readEnvVariable(name, value, failure);
    if (state != EnvVariableState::Found) {
        VT_RAISE(SysError(tstrings::TextBuilder()
                              << "GetEnvironmentVariable(" << name << ") failed"
                              << (state == EnvVariableState::NotFound ? ". Variable not set" : ""),
                          failure.function, failure.code));
    }
    return value;
}

} // namespace

tstring getEnvVariable(const tstring& name) {
    return getEnvVariableImpl(name);
}

tstring getEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& defaultValue) {
    tstring value;
    FailedCall failure;
    return readEnvVariable(name, value, failure) == EnvVariableState::Found ? value : defaultValue;
}

void setEnvVariable(const tstring& name, const tstring& value) {
    FailedCall failure;
    if (!writeEnvVariable(name, value, failure)) {
        VT_RAISE(SysError(tstrings::TextBuilder()
                              << "SetEnvironmentVariable(" << name << ", " << value << ") failed",
                          failure.function, failure.code));
    }
}

bool setEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& value) {
    FailedCall failure;
    return writeEnvVariable(name, value, failure);
}

} // namespace SysInfo
