// The process's own facts from /proc, the C library and the dynamic loader.

#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"

namespace SysInfo {

namespace {

// A missing variable has no errno of its own; "No data available" says it best.
const int envVariableNotFound = ENODATA;
// A value that is no valid UTF-8 can't be read as text.
const int envVariableUnreadable = EILSEQ;

std::string readProcFile(const char* path) {
    const UniqueFile file(std::fopen(path, "rb"));
    if (!file) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "fopen(" << path << ") failed",
                             &std::fopen);
    }
    std::string content;
    char chunk[4096];
    for (;;) {
        const size_t count = std::fread(chunk, 1, sizeof(chunk), file.get());
        content.append(chunk, count);
        if (count < sizeof(chunk)) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "fread(" << path << ") failed",
                             &std::fread);
    }
    return content;
}

// A path is bytes here; one that does not decode must not pass on as empty text.
tstring decodePath(const std::string& bytes) {
    const tstring path = tstrings::fromUtf8(bytes);
    if (path.empty() && !bytes.empty()) {
        VT_RAISE(tstrings::TextBuilder() << "Path " << bytes << " is not valid UTF-8");
    }
    return path;
}

struct Mapping {
    std::uintptr_t start;
    std::uintptr_t end;
    std::string path;
};

// One line of /proc/self/maps: "start-end perms offset dev inode [path]".
bool parseMapping(const std::string& line, Mapping& mapping) {
    unsigned long long start = 0;
    unsigned long long end = 0;
    int pathStart = -1;
    if (std::sscanf(line.c_str(), "%llx-%llx %*s %*s %*s %*s %n", &start, &end, &pathStart) < 2 ||
        pathStart < 0) {
        return false;
    }
    mapping.start = static_cast<std::uintptr_t>(start);
    mapping.end = static_cast<std::uintptr_t>(end);
    mapping.path = line.substr(static_cast<size_t>(pathStart));
    return true;
}

// The file mapped at address, and the lowest address at which that file is mapped (its load
// base), which serves as the module's handle.
bool findModule(const void* address, Mapping& module) {
    const std::uintptr_t target = reinterpret_cast<std::uintptr_t>(address);
    std::vector<Mapping> fileMappings;
    const std::string maps = readProcFile("/proc/self/maps");
    size_t lineStart = 0;
    while (lineStart < maps.size()) {
        size_t lineEnd = maps.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = maps.size();
        }
        Mapping mapping;
        // Anonymous memory, the heap, the stack and the vDSO are no modules.
        if (parseMapping(maps.substr(lineStart, lineEnd - lineStart), mapping) &&
            !mapping.path.empty() && mapping.path[0] == '/') {
            fileMappings.push_back(mapping);
        }
        lineStart = lineEnd + 1;
    }

    for (const Mapping& mapping : fileMappings) {
        if (mapping.start <= target && target < mapping.end) {
            module = mapping;
            for (const Mapping& other : fileMappings) {
                if (other.path == mapping.path && other.start < module.start) {
                    module.start = other.start;
                }
            }
            return true;
        }
    }
    return false;
}

// The null handle stands for the executable, any other for the module mapped at it.
tstring getModulePath(ModuleHandle module) {
    if (module) {
        Mapping mapping;
        if (!findModule(module, mapping)) {
            VT_RAISE(tstrings::TextBuilder() << "No module in /proc/self/maps holds address "
                                             << static_cast<const void*>(module));
        }
        return decodePath(mapping.path);
    }

    std::vector<char> buffer(260);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    // readlink cuts silently: a full buffer may hold a cut path.
    while (length >= 0 && static_cast<size_t>(length) >= buffer.size()) {
        buffer.resize(buffer.size() * 2);
        length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    }
    if (length < 0) {
        VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << "readlink(/proc/self/exe) failed",
                             &readlink);
    }
    return decodePath(std::string(buffer.data(), static_cast<size_t>(length)));
}

// The directory of the C library: the nearest thing to a system directory.
tstring getSystemDirImpl() {
    Dl_info info = {};
    if (!dladdr(functionAddress(&gnu_get_libc_version), &info)) {
        VT_RAISE("dladdr(gnu_get_libc_version) failed");
    }
    const tstring libraryPath = info.dli_fname ? decodePath(info.dli_fname) : tstring();
    if (libraryPath.empty() || libraryPath[0] != L'/') {
        VT_RAISE("Unexpected reply from dladdr");
    }
    return FileUtils::trimTrailingSeparators(FileUtils::parentPath(libraryPath));
}

} // namespace

tstring_array getCommandArgs(bool skipProgramName) {
    // The arguments as the process received them, each ended by a NUL.
    const std::string cmdline = readProcFile("/proc/self/cmdline");
    tstring_array result;
    size_t start = 0;
    bool first = true;
    while (start < cmdline.size()) {
        size_t end = cmdline.find('\0', start);
        if (end == std::string::npos) {
            end = cmdline.size();
        }
        if (!(first && skipProgramName)) {
            result.push_back(tstrings::fromUtf8(cmdline.substr(start, end - start)));
        }
        first = false;
        start = end + 1;
    }
    return result;
}

EnvVariableState readEnvVariable(const tstring& name, tstring& value, FailedCall& failure) {
    failure.function = functionAddress(&std::getenv);
    const char* const bytes = std::getenv(tstrings::toUtf8(name).c_str());
    if (!bytes) {
        failure.code = envVariableNotFound;
        return EnvVariableState::NotFound;
    }
    value = tstrings::fromUtf8(bytes);
    if (value.empty() && *bytes != '\0') {
        failure.code = envVariableUnreadable;
        return EnvVariableState::Unreadable;
    }
    return EnvVariableState::Found;
}

bool writeEnvVariable(const tstring& name, const tstring& value, FailedCall& failure) {
    if (setenv(tstrings::toUtf8(name).c_str(), tstrings::toUtf8(value).c_str(), 1) == 0) {
        return true;
    }
    failure.code = lastSystemErrorCode();
    failure.function = functionAddress(&setenv);
    return false;
}

ModuleHandle getCurrentModuleHandle() {
    Mapping module;
    const void* const code = functionAddress(&getCurrentModuleHandle);
    if (!findModule(code, module)) {
        VT_RAISE(tstrings::TextBuilder() << "No module in /proc/self/maps holds address " << code);
    }
    return reinterpret_cast<ModuleHandle>(module.start);
}

tstring getCurrentModulePath() {
    return getModulePath(getCurrentModuleHandle());
}

tstring getExecutablePath() {
    return FileUtils::toAbsolutePath(getModulePath(nullptr));
}

tstring getSystemDir() {
    return getSystemDirImpl();
}

} // namespace SysInfo
