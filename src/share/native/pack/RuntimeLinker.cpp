#include "RuntimeLinker.h"

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JarManifest.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "RuntimeRelease.h"
#include "SysInfo.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

// Standard output of a tool that succeeded.
std::string runTool(const tstring& jdk, const tstring& name, const tstring_array& args) {
    const PackHost::ProcessResult result =
        PackHost::runProcess(RuntimeLinker::jdkTool(jdk, name), args);
    PackHost::checkNotStopped();
    if (result.exitCode != 0) {
        VT_RAISE(tstrings::TextBuilder()
                 << RuntimeLinker::toolFailureText(name, result.exitCode, result.out, result.err));
    }
    return result.out;
}

tstring javacDirOnPath() {
    const tstring path = SysInfo::getEnvVariable(std::nothrow, L"PATH", tstring());
    for (const tstring& dir : tstrings::split(path, tstring(1, FileUtils::pathListSeparator))) {
        const tstring javac =
            FileUtils::joinPath(dir, tstring(L"javac") + PackHost::executableSuffix);
        if (!dir.empty() && PackFiles::isFile(javac)) {
            // Through the links that put it on the path, to the JDK's own bin directory.
            return FileUtils::parentPath(PackFiles::normalPath(javac));
        }
    }
    return tstring();
}

bool isModuleListChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L',' || c == L'_';
}

tstring trimmed(const tstring& text) {
    const std::size_t first = text.find_first_not_of(L" \r\t");
    return first == tstring::npos ? tstring()
                                  : text.substr(first, text.find_last_not_of(L" \r\t") - first + 1);
}

// jdeps prints the list on its last line.
tstring_array moduleListOf(const std::string& jdepsOutput) {
    tstring list;
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(jdepsOutput), L"\n")) {
        list = trimmed(line).empty() ? list : trimmed(line);
    }
    for (const wchar_t c : list) {
        if (!isModuleListChar(c)) {
            VT_RAISE(tstrings::TextBuilder() << L"jdeps printed no module list: " << list);
        }
    }
    return RuntimeLinker::splitModules(list);
}

// Modules that programs reach through service lookups by name, which jdeps can't see. Not
// here: jdk.crypto.cryptoki (PKCS#11 needs a token's native library and a configuration that
// a program names itself) and jdk.naming.dns (JNDI DNS lookups, rare, and 1 MiB with
// java.naming).
const wchar_t* const providerModuleNames[] = {
    L"jdk.charsets",      // Charset.forName beyond the standard charsets: Shift_JIS, Big5, ...
    L"jdk.crypto.ec",     // EC keys and TLS key exchange up to JDK 21 (in java.base since)
    L"jdk.crypto.mscapi", // Windows: the Windows-MY and Windows-ROOT key stores
    L"jdk.localedata",    // dates, numbers and names in languages other than English
    L"jdk.random",        // RandomGenerator.getDefault() and of() in JDK 17 to 22
    L"jdk.zipfs",         // FileSystems.newFileSystem on a zip or jar
};

tstring_array jmodNamesIn(const tstring& dir) {
    tstring_array names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(PackFiles::fsPath(dir), ignored)) {
        const tstring name = PackFiles::fromFsPath(entry.path().filename());
        if (tstrings::endsWith(name, L".jmod")) {
            names.push_back(name.substr(0, name.size() - 5));
        }
    }
    return names;
}

// The "MODULES" line of a runtime's release file: what a JDK without jmods links from.
tstring_array modulesOfRelease(const tstring& jdk) {
    const tstring value =
        trimmed(tstrings::fromUtf8(RuntimeRelease::property(RuntimeRelease::read(jdk), "MODULES")));
    return value.empty() ? tstring_array() : tstrings::split(value, L" ");
}

tstring_array availableModules(const tstring& jdk, const tstring& jmods) {
    const tstring dir = jmods.empty() ? FileUtils::joinPath(jdk, L"jmods") : jmods;
    return PackFiles::isDirectory(dir) ? jmodNamesIn(dir) : modulesOfRelease(jdk);
}

tstring joined(const tstring_array& entries, const tstring& separator) {
    tstring result;
    for (const tstring& entry : entries) {
        result += (result.empty() ? L"" : separator) + entry;
    }
    return result;
}

} // namespace

namespace RuntimeLinker {

tstring jdkTool(const tstring& jdk, const tstring& name) {
    const tstring path = FileUtils::PathBuilder()
                         << jdk << L"bin" << name + PackHost::executableSuffix;
    if (!PackFiles::isFile(path)) {
        VT_RAISE(tstrings::TextBuilder() << L"no " << name << L" in the JDK " << jdk);
    }
    return path;
}

tstring findJdk(const tstring& jlinkFrom) {
    if (!jlinkFrom.empty()) {
        return jlinkFrom;
    }
    const tstring javaHome = SysInfo::getEnvVariable(std::nothrow, L"JAVA_HOME", tstring());
    if (!javaHome.empty()) {
        return javaHome;
    }
    const tstring javacDir = javacDirOnPath();
    if (javacDir.empty()) {
        VT_RAISE("no JDK to link the runtime with: give --jlink-from or --runtime, "
                 "or set JAVA_HOME");
    }
    return FileUtils::parentPath(javacDir);
}

tstring_array modulesFound(const tstring& jdk, const tstring_array& classPath,
                           const tstring_array& modulePath, const tstring& mainModule) {
    const tstring_array base = {L"--print-module-deps", L"--ignore-missing-deps"};
    std::set<tstring> modules = {L"java.base"};
    const auto add = [&](const tstring_array& args) {
        tstring_array all = base;
        all.insert(all.end(), args.begin(), args.end());
        for (const tstring& module : moduleListOf(runTool(jdk, L"jdeps", all))) {
            modules.insert(module);
        }
    };
    if (!modulePath.empty()) {
        // Without a main module, what the module path holds is what the application may add.
        add({L"--module-path", joined(modulePath, tstring(1, FileUtils::pathListSeparator)),
             mainModule.empty() ? L"--add-modules" : L"--module",
             mainModule.empty() ? L"ALL-MODULE-PATH"
                                : mainModule.substr(0, mainModule.find(L'/'))});
    }
    if (!classPath.empty()) {
        tstring_array args = {L"--multi-release", L"base"};
        args.insert(args.end(), classPath.begin(), classPath.end());
        add(args);
    }
    return tstring_array(modules.begin(), modules.end());
}

tstring_array providerModules(const tstring& jdk, const tstring& jmods) {
    const tstring_array available = availableModules(jdk, jmods);
    tstring_array result;
    for (const wchar_t* name : providerModuleNames) {
        if (std::find(available.begin(), available.end(), name) != available.end()) {
            result.push_back(name);
        }
    }
    return result;
}

unsigned elfMachine(const std::string& bytes) {
    if (bytes.size() < 20 ||
        bytes.compare(0, 4,
                      "\x7f"
                      "ELF") != 0 ||
        bytes[4] != 2 || bytes[5] != 1) {
        return 0;
    }
    return static_cast<unsigned char>(bytes[18]) | static_cast<unsigned char>(bytes[19]) << 8;
}

void checkJmods(const tstring& jmods, const tstring& runtimeLibrary, unsigned machine) {
    const tstring javaBase = FileUtils::joinPath(jmods, L"java.base.jmod");
    if (!PackFiles::isFile(javaBase)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the jmods directory " << jmods << L" has no java.base.jmod");
    }
    std::string library;
    try {
        library = JarManifest::readEntry(javaBase, tstrings::toUtf8(runtimeLibrary));
    } catch (const std::exception&) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the jmods directory " << jmods << L" has a java.base.jmod that is no jmod");
    }
    if (library.empty()) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the jmods directory " << jmods
                 << L" is made for another platform: its java.base has no " << runtimeLibrary);
    }
    if (machine != 0 && elfMachine(library) != machine) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the jmods directory " << jmods << L" is made for another platform: its "
                 << runtimeLibrary << L" is for another machine");
    }
}

tstring_array splitModules(const tstring& list) {
    tstring_array modules;
    for (const tstring& module : tstrings::split(list, L",")) {
        if (!trimmed(module).empty()) {
            modules.push_back(trimmed(module));
        }
    }
    return modules;
}

tstring joinModules(const tstring_array& modules) {
    return joined(modules, L",");
}

void link(const tstring& jdk, const tstring& modules, const tstring& jmods, const tstring& output,
          const tstring_array& moreArgs) {
    tstring_array args = {
        L"--add-modules", modules, L"--strip-debug", L"--no-header-files", L"--no-man-pages",
        L"--output",      output};
    if (!jmods.empty()) {
        args.insert(args.end(), {L"--module-path", jmods});
    }
    args.insert(args.end(), moreArgs.begin(), moreArgs.end());
    runTool(jdk, L"jlink", args);
}

tstring toolFailureText(const tstring& tool, int exitCode, const std::string& out,
                        const std::string& err) {
    // The first line is the tool's message; a stack trace may follow it.
    tstring message;
    for (const std::string* stream : {&err, &out}) {
        for (const tstring& line : tstrings::split(tstrings::fromUtf8(*stream), L"\n")) {
            message = message.empty() ? trimmed(line) : message;
        }
    }
    tstrings::TextBuilder text;
    text << tool << L" failed with exit code " << exitCode;
    if (!message.empty()) {
        text << L": " << message;
    }
    return text.text();
}

} // namespace RuntimeLinker
