#ifndef VANTREL_SYSINFO_H
#define VANTREL_SYSINFO_H

#include <new>

#include "ErrorHandling.h"
#include "tstrings.h"

// What the launcher knows of its own process. Declared once, implemented per platform.
namespace SysInfo {

typedef void* ModuleHandle;

tstring_array getCommandArgs(bool skipProgramName = true);

// Raises when the variable is not set.
tstring getEnvVariable(const tstring& name);
// Returns defaultValue when the variable is not set or can't be read.
tstring getEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& defaultValue);
void setEnvVariable(const tstring& name, const tstring& value);
// False when the variable could not be set.
bool setEnvVariable(const std::nothrow_t&, const tstring& name, const tstring& value);

// The platform's environment primitives, which the functions above are written over. They
// raise nothing; where they fail, failure tells the function and the code.
enum class EnvVariableState { Found, NotFound, Unreadable };
EnvVariableState readEnvVariable(const tstring& name, tstring& value, FailedCall& failure);
bool writeEnvVariable(const tstring& name, const tstring& value, FailedCall& failure);

ModuleHandle getCurrentModuleHandle();
tstring getCurrentModulePath();
tstring getExecutablePath();
// Without trailing separators.
tstring getSystemDir();

} // namespace SysInfo

#endif
