#include "JvmLauncher.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "StartupArchive.h"
#include "CfgFile.h"
#include "Dll.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JavaRuntime.h"
#include "Log.h"
#include "SysInfo.h"

namespace {

const tstring splashOptionPrefix = L"-splash:";

} // namespace

Jvm::Jvm() {
    LOG_TRACE(L"Jvm(" << static_cast<const void*>(this) << L")::Jvm()");
}

Jvm::~Jvm() {
    LOG_TRACE(L"Jvm(" << static_cast<const void*>(this) << L")::~Jvm()");
}

Jvm& Jvm::appendArgument(const tstring& arg) {
    jvmArgs.push_back(arg);
    return *this;
}

Jvm& Jvm::appendEnvVariable(const tstring& name, const tstring& value) {
    envNames.push_back(name);
    envValues.push_back(value);
    return *this;
}

Jvm& Jvm::initFromConfigFile(const CfgFile& cfg) {
    const CfgSection& app = cfg.section(SectionName::Application);

    if (const CfgProperty* modulePath = findProperty(app, PropertyName::modulepath)) {
        // Each value is an option of its own; module paths are not joined.
        for (const tstring& value : modulePath->second) {
            appendArgument(L"--module-path").appendArgument(value);
        }
    }

    if (const CfgProperty* classPath = findProperty(app, PropertyName::classpath)) {
        appendArgument(L"-classpath").appendArgument(CfgFile::joinedValues(*classPath));
    }

    if (const CfgProperty* splash = findProperty(app, PropertyName::splash)) {
        const tstring splashPath = CfgFile::lastValue(*splash);
        if (FileUtils::pathExists(splashPath)) {
            appendArgument(splashOptionPrefix + splashPath);
        } else {
            LOG_WARNING(L"Splash property ignored. File \"" << splashPath << L"\" not found");
        }
    }

    const CfgSection& javaOptions = cfg.section(SectionName::JavaOptions);
    if (const CfgProperty* options = findProperty(javaOptions, PropertyName::javaOptions)) {
        for (const tstring& value : options->second) {
            appendArgument(value);
        }
    }

    appendArgument(L"-Dvantrel.app-path=" + SysInfo::getExecutablePath());

    if (const CfgProperty* mainModule = findProperty(app, PropertyName::mainmodule)) {
        appendArgument(L"-m").appendArgument(CfgFile::lastValue(*mainModule));
    }
    if (const CfgProperty* mainClass = findProperty(app, PropertyName::mainclass)) {
        appendArgument(CfgFile::lastValue(*mainClass));
    }
    if (const CfgProperty* mainJar = findProperty(app, PropertyName::mainjar)) {
        appendArgument(L"-jar").appendArgument(CfgFile::lastValue(*mainJar));
    }

    const CfgSection& argOptions = cfg.section(SectionName::ArgOptions);
    if (const CfgProperty* arguments = findProperty(argOptions, PropertyName::arguments)) {
        for (const tstring& value : arguments->second) {
            appendArgument(value);
        }
    }
    return *this;
}

tstring Jvm::getJvmLibPath() const {
    return FileUtils::PathBuilder()
           << FileUtils::parentPath(launcherLibPath) << JavaRuntime::nativeLayout.jvmLibDir
           << JavaRuntime::nativeLayout.jvmLib;
}

bool Jvm::hasSplashOption() const {
    for (const tstring& arg : jvmArgs) {
        if (tstrings::startsWith(arg, splashOptionPrefix, tstrings::Exact)) {
            return true;
        }
    }
    return false;
}

void Jvm::applyEnvVariables() const {
    for (std::size_t i = 0; i < envNames.size(); ++i) {
        SysInfo::setEnvVariable(envNames[i], envValues[i]);
    }
}

namespace {

typedef std::basic_string<JvmlChar16> Utf16Text;

// The write position of one pass over the buffer. Without a buffer it only counts, so that both
// passes share the same walk and arrive at the same size.
class BufferCursor {
public:
    explicit BufferCursor(char* base) : base(base), offset(sizeof(JvmlLauncherData)) {}

    bool writing() const { return base != nullptr; }
    std::size_t size() const { return offset; }
    // Only while writing.
    char* here() const { return base + offset; }

    // The size is reported as a signed 32-bit number: refuse anything that would not fit.
    void advance(std::size_t bytes) {
        if (bytes > static_cast<std::size_t>(INT_MAX) - offset) {
            VT_RAISE("JvmlLauncherData buffer would exceed 2147483647 bytes");
        }
        offset += bytes;
    }

    void storeField(std::size_t fieldOffset, const void* pointer) const {
        storePointer(base + fieldOffset, pointer);
    }

    void storeCount(std::size_t fieldOffset, std::size_t count) const {
        const auto value = static_cast<std::int32_t>(count);
        std::memcpy(base + fieldOffset, &value, sizeof(value));
    }

    static void storePointer(char* at, const void* pointer) {
        std::memcpy(at, &pointer, sizeof(pointer));
    }

private:
    char* const base;
    std::size_t offset;
};

const std::size_t pointerSize = sizeof(void*);

std::size_t arrayBytes(std::size_t entries) {
    if (entries > static_cast<std::size_t>(INT_MAX) / pointerSize) {
        VT_RAISE("JvmlLauncherData buffer would exceed 2147483647 bytes");
    }
    return entries * pointerSize;
}

// One pointer array, then its NUL-terminated UTF-16 texts. Returns the array's address.
char* putUtf16Array(BufferCursor& cursor, const tstring_array& texts) {
    char* const array = cursor.writing() ? cursor.here() : nullptr;
    cursor.advance(arrayBytes(texts.size()));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const Utf16Text units = tstrings::toUtf16<JvmlChar16>(texts[i]);
        const std::size_t bytes = (units.size() + 1) * sizeof(JvmlChar16);
        if (cursor.writing()) {
            std::memcpy(cursor.here(), units.c_str(), bytes);
            BufferCursor::storePointer(array + i * pointerSize, cursor.here());
        }
        cursor.advance(bytes);
    }
    return array;
}

} // namespace

int JliLaunchData::initJvmlLauncherData(JvmlLauncherData* buffer) const {
    BufferCursor cursor(reinterpret_cast<char*>(buffer));

    const std::size_t pathBytes = libPathUtf8.size() + 1;
    if (cursor.writing()) {
        std::memcpy(cursor.here(), libPathUtf8.c_str(), pathBytes);
        cursor.storeField(offsetof(JvmlLauncherData, libPath), cursor.here());
    }
    cursor.advance(pathBytes);

    const std::size_t argCount = narrowArgs.size();
    char* const argArray = cursor.writing() ? cursor.here() : nullptr;
    if (cursor.writing()) {
        cursor.storeField(offsetof(JvmlLauncherData, argList), argArray);
        cursor.storeCount(offsetof(JvmlLauncherData, argCount), argCount);
        BufferCursor::storePointer(argArray + argCount * pointerSize, nullptr);
    }
    cursor.advance(arrayBytes(argCount + 1));
    for (std::size_t i = 0; i < argCount; ++i) {
        const std::size_t bytes = narrowArgs[i].size() + 1;
        if (cursor.writing()) {
            std::memcpy(cursor.here(), narrowArgs[i].c_str(), bytes);
            BufferCursor::storePointer(argArray + i * pointerSize, cursor.here());
        }
        cursor.advance(bytes);
    }

    char* const nameArray = putUtf16Array(cursor, envNames);
    char* const valueArray = putUtf16Array(cursor, envValues);
    if (cursor.writing()) {
        cursor.storeField(offsetof(JvmlLauncherData, envNameList), nameArray);
        cursor.storeCount(offsetof(JvmlLauncherData, envCount), envNames.size());
        cursor.storeField(offsetof(JvmlLauncherData, envValueList), valueArray);
    }

    const int size = static_cast<int>(cursor.size());
    if (buffer) {
        LOG_TRACE(L"Initialized " << size << L" bytes at " << static_cast<const void*>(buffer)
                                  << L" address");
    } else {
        LOG_TRACE(L"Need " << size << L" bytes for JvmlLauncherData buffer");
    }
    return size;
}

std::unique_ptr<JliLaunchData> makeLaunchData(const Jvm& jvm) {
    std::unique_ptr<JliLaunchData> data(new JliLaunchData());
    data->libPathUtf8 = tstrings::toUtf8(jvm.getLauncherLibPath());
    for (const tstring& arg : jvm.getArguments()) {
        data->narrowArgs.push_back(tstrings::toAnsi(arg));
    }
    data->envNames = jvm.getEnvNames();
    data->envValues = jvm.getEnvValues();
    return data;
}

namespace {

const JliLaunchData& launchDataOf(void* handle) {
    if (handle == nullptr) {
        VT_RAISE("Null JliLaunchData handle");
    }
    return *static_cast<const JliLaunchData*>(handle);
}

// A buffer that is too small is refused before anything is written to it.
JvmlLauncherData* fillBuffer(const JliLaunchData& data, void* buffer, int bufferSize) {
    if (bufferSize < data.initJvmlLauncherData(nullptr)) {
        return nullptr;
    }
    if (buffer == nullptr) {
        VT_RAISE("Null JvmlLauncherData buffer");
    }
    auto* result = static_cast<JvmlLauncherData*>(buffer);
    data.initJvmlLauncherData(result);
    return result;
}

} // namespace

extern "C" void closeHandle(void* handle) {
    catchAndLog(VT_SOURCE_POSITION, [&] { delete static_cast<JliLaunchData*>(handle); });
}

extern "C" int getJvmlLauncherDataSize(void* handle) {
    int size = -1;
    catchAndLog(VT_SOURCE_POSITION,
                [&] { size = launchDataOf(handle).initJvmlLauncherData(nullptr); });
    return size;
}

extern "C" JvmlLauncherData* initJvmlLauncherData(void* handle, void* buffer, int bufferSize) {
    JvmlLauncherData* result = nullptr;
    catchAndLog(VT_SOURCE_POSITION,
                [&] { result = fillBuffer(launchDataOf(handle), buffer, bufferSize); });
    return result;
}

namespace {

const JvmlLauncherFunctions launcherFunctions = {closeHandle, getJvmlLauncherDataSize,
                                                 initJvmlLauncherData};

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

// The buffer's pointer arrays are not aligned: read their entries byte-wise.
template <class T>
T entryAt(const T* array, int index) {
    T entry;
    std::memcpy(&entry, reinterpret_cast<const char*>(array) + sizeof(T) * index, sizeof(T));
    return entry;
}

// The texts themselves are not aligned either: copy their units out byte-wise.
Utf16Text textAt(const JvmlChar16* text) {
    const char* const bytes = reinterpret_cast<const char*>(text);
    Utf16Text result;
    for (;;) {
        JvmlChar16 unit;
        std::memcpy(&unit, bytes + sizeof(unit) * result.size(), sizeof(unit));
        if (unit == 0) {
            return result;
        }
        result.push_back(unit);
    }
}

std::string utf16ToUtf8(const Utf16Text& text) {
    return tstrings::toUtf8(tstrings::fromUtf16(text));
}

void releaseBuffer(JvmlLauncherData* buffer) {
    std::free(buffer);
}

} // namespace

extern "C" VANTREL_EXPORT const JvmlLauncherFunctions* jvmLauncherGetAPI() {
    return &launcherFunctions;
}

extern "C" JvmlLauncherData* jvmLauncherBuildData(const JvmlLauncherFunctions* table, void* handle,
                                                  int* sizeOut) {
    if (handle == nullptr) {
        return nullptr;
    }
    JvmlLauncherData* result = nullptr;
    std::unique_ptr<void, FreeBlock> block;
    const int size = table->getJvmlLauncherDataSize(handle);
    if (size > 0) {
        block.reset(std::malloc(static_cast<std::size_t>(size)));
        if (!block) {
            jvmLauncherDebugPrint("%s", std::strerror(errno));
        } else {
            result = table->initJvmlLauncherData(handle, block.get(), size);
            if (result != nullptr) {
                block.release();
                if (sizeOut != nullptr) {
                    *sizeOut = size;
                }
            }
        }
    }
    table->closeHandle(handle);
    return result;
}

extern "C" int jvmLauncherRunJli(const JvmlLauncherData* data, void* jliLaunch) {
    jvmLauncherDebugPrint("jli lib: [%s]", data->libPath);
    for (int i = 0; i < data->argCount; ++i) {
        jvmLauncherDebugPrint("jli arg[%d]: [%s]", i, entryAt(data->argList, i));
    }
    for (int i = 0; i < data->envCount; ++i) {
        jvmLauncherDebugPrint("env var[%d]: %s=[%s]", i,
                              utf16ToUtf8(textAt(entryAt(data->envNameList, i))).c_str(),
                              utf16ToUtf8(textAt(entryAt(data->envValueList, i))).c_str());
    }
    for (int i = 0; i < data->envCount; ++i) {
        if (!SysInfo::setEnvVariable(std::nothrow,
                                     tstrings::fromUtf16(textAt(entryAt(data->envNameList, i))),
                                     tstrings::fromUtf16(textAt(entryAt(data->envValueList, i))))) {
            jvmLauncherDebugPrint("SetEnvironmentVariable(%d) failed", i);
        }
    }
    // JLI_Launch indexes argv as an ordinary array, which the buffer's copy generally is not:
    // hand it an aligned one with the same entries.
    std::vector<char*> argv(static_cast<std::size_t>(data->argCount) + 1, nullptr);
    for (int i = 0; i < data->argCount; ++i) {
        argv[static_cast<std::size_t>(i)] = entryAt(data->argList, i);
    }
    const JLI_LaunchFunc launch = functionFromAddress<JLI_LaunchFunc>(jliLaunch);
    return launch(data->argCount, argv.data(), 0, nullptr, 0, nullptr, "", "",
                  JavaRuntime::programName, JavaRuntime::launcherName, 0, 0, 0, 0);
}

extern "C" void jvmLauncherDebugPrint(const char* format, ...) {
    const char* debug = std::getenv("VANTREL_DEBUG");
    if (debug == nullptr || std::strcmp(debug, "true") != 0) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

void Jvm::launch() const {
    const std::unique_ptr<JvmlLauncherData, decltype(&releaseBuffer)> buffer(
        jvmLauncherBuildData(jvmLauncherGetAPI(), makeLaunchData(*this).release(), nullptr),
        releaseBuffer);
    // Never start the JVM without its command line.
    if (!buffer) {
        VT_RAISE("Failed to pack the JVM command line");
    }
    LOG_TRACE(L"JVM library: \"" << launcherLibPath << L"\"");

    // The temporary Dll goes at once; the function keeps its own reference to the library.
    const DllFunction<void*> jliLaunch(Dll(tstrings::TextBuilder() << launcherLibPath),
                                       tstrings::TextBuilder() << JavaRuntime::launchEntryName);
    // From here on the runtime may end the process itself.
    StartupArchive::finishAtExit();
    if (jvmLauncherRunJli(buffer.get(), jliLaunch) != 0) {
        VT_RAISE("Failed to launch JVM");
    }
}
