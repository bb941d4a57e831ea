#include "RuntimeLinker.h"

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "SysInfo.h"

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

// jdeps prints the list on its last line; an application that needs nothing else needs
// java.base.
tstring moduleListOf(const std::string& jdepsOutput) {
    tstring list;
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(jdepsOutput), L"\n")) {
        list = trimmed(line).empty() ? list : trimmed(line);
    }
    for (const wchar_t c : list) {
        if (!isModuleListChar(c)) {
            VT_RAISE(tstrings::TextBuilder() << L"jdeps printed no module list: " << list);
        }
    }
    return list.empty() ? tstring(L"java.base") : list;
}

tstring joinedPathList(const tstring_array& entries) {
    tstring result;
    for (const tstring& entry : entries) {
        result += (result.empty() ? L"" : tstring(1, FileUtils::pathListSeparator)) + entry;
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

tstring modulesOfClassPath(const tstring& jdk, const tstring_array& jars) {
    tstring_array args = {L"--print-module-deps", L"--ignore-missing-deps", L"--multi-release",
                          L"base"};
    args.insert(args.end(), jars.begin(), jars.end());
    return moduleListOf(runTool(jdk, L"jdeps", args));
}

tstring modulesOfModule(const tstring& jdk, const tstring& module,
                        const tstring_array& modulePath) {
    const tstring moduleName = module.substr(0, module.find(L'/'));
    return moduleListOf(runTool(jdk, L"jdeps",
                                {L"--print-module-deps", L"--ignore-missing-deps", L"--module-path",
                                 joinedPathList(modulePath), L"--module", moduleName}));
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
