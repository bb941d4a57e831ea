#ifndef VANTREL_JVMLAUNCHER_H
#define VANTREL_JVMLAUNCHER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tstrings.h"

class CfgFile;

// Everything needed to start the JVM: the runtime's launcher library, the complete JVM command
// line (element 0 is the launcher executable) and the environment variables for the JVM.
class Jvm {
public:
    Jvm();
    ~Jvm();
    Jvm(const Jvm&) = delete;
    Jvm& operator=(const Jvm&) = delete;

    Jvm& initFromConfigFile(const CfgFile& cfg);

    Jvm& appendArgument(const tstring& arg);
    Jvm& appendEnvVariable(const tstring& name, const tstring& value);

    void setLauncherLibPath(const tstring& path) { launcherLibPath = path; }
    tstring getLauncherLibPath() const { return launcherLibPath; }
    // The runtime's JVM library, beside the launcher library.
    tstring getJvmLibPath() const;

    const tstring_array& getArguments() const { return jvmArgs; }
    const tstring_array& getEnvNames() const { return envNames; }
    const tstring_array& getEnvValues() const { return envValues; }

    bool hasSplashOption() const;

    // Sets the pairs in this process, so that a restarted copy inherits them.
    void applyEnvVariables() const;

    void launch() const;

private:
    tstring launcherLibPath;
    tstring_array jvmArgs;
    tstring_array envNames;
    tstring_array envValues;
};

// A UTF-16 code unit of the buffer's environment texts; wchar_t where that is 16 bits wide, so
// that the texts can go straight to the system there.
typedef std::conditional<sizeof(wchar_t) == sizeof(char16_t), wchar_t, char16_t>::type JvmlChar16;

// One self-contained block; every pointer points inside it. The data area behind the header is
// not aligned, so its pointer arrays must be accessed byte-wise.
struct JvmlLauncherData {
    const char* libPath;
    std::int32_t argCount;
    std::int32_t envCount;
    char** argList;
    const JvmlChar16** envNameList;
    const JvmlChar16** envValueList;
};

static_assert(sizeof(void*) == 8, "the buffer layout has 8-byte pointers");
static_assert(offsetof(JvmlLauncherData, libPath) == 0, "buffer layout");
static_assert(offsetof(JvmlLauncherData, argCount) == 8, "buffer layout");
static_assert(offsetof(JvmlLauncherData, envCount) == 12, "buffer layout");
static_assert(offsetof(JvmlLauncherData, argList) == 16, "buffer layout");
static_assert(offsetof(JvmlLauncherData, envNameList) == 24, "buffer layout");
static_assert(offsetof(JvmlLauncherData, envValueList) == 32, "buffer layout");
static_assert(sizeof(JvmlLauncherData) == 40, "buffer layout");

// The narrow form of a Jvm, from which the buffer is packed. Reached from outside only through
// an opaque handle.
class JliLaunchData {
public:
    // Null buffer: only computes the size. Both passes return the same size.
    int initJvmlLauncherData(JvmlLauncherData* buffer) const;

private:
    friend std::unique_ptr<JliLaunchData> makeLaunchData(const Jvm& jvm);

    std::string libPathUtf8;
    std::vector<std::string> narrowArgs;
    tstring_array envNames;
    tstring_array envValues;
};

std::unique_ptr<JliLaunchData> makeLaunchData(const Jvm& jvm);

// The functions through which the JVM start obtains its buffer; one constant table per process.
struct JvmlLauncherFunctions {
    void (*closeHandle)(void* handle);
    int (*getJvmlLauncherDataSize)(void* handle);
    JvmlLauncherData* (*initJvmlLauncherData)(void* handle, void* buffer, int bufferSize);
};

static_assert(sizeof(JvmlLauncherFunctions) == 24, "three 8-byte function pointers");

// Exported from the executable under this undecorated name; the build names what exports it
// on the platform (VANTREL_EXPORT).
extern "C" VANTREL_EXPORT const JvmlLauncherFunctions* jvmLauncherGetAPI();

extern "C" {
// A heap block (release with free) packed through the table, or null. Takes ownership of
// handle in every case; sizeOut may be null.
JvmlLauncherData* jvmLauncherBuildData(const JvmlLauncherFunctions* table, void* handle,
                                       int* sizeOut);
// Sets the JVM's environment variables and returns what JLI_Launch returns.
int jvmLauncherRunJli(const JvmlLauncherData* data, void* jliLaunch);
// Writes a line to the standard error stream only when "VANTREL_DEBUG" is exactly "true".
void jvmLauncherDebugPrint(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
}

// The launcher-library side takes an opaque JliLaunchData handle. None of these lets a failure
// out: each logs it and answers with its failure value.
extern "C" {
void closeHandle(void* handle);
// -1 on failure.
int getJvmlLauncherDataSize(void* handle);
// Null on failure or when bufferSize is too small; the buffer is then untouched.
JvmlLauncherData* initJvmlLauncherData(void* handle, void* buffer, int bufferSize);
}

#endif
