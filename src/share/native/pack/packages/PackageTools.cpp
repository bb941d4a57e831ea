#include "PackageTools.h"

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "RuntimeLinker.h"
#include "SysInfo.h"

namespace PackageTools {

tstring find(const tstring& tool, const tstring& purpose, const tstring& debianPackage) {
    const tstring path = SysInfo::getEnvVariable(std::nothrow, L"PATH", tstring());
    for (const tstring& dir : tstrings::split(path, tstring(1, FileUtils::pathListSeparator))) {
        const tstring candidate = FileUtils::joinPath(dir, tool + PackHost::executableSuffix);
        if (!dir.empty() && PackFiles::isFile(candidate)) {
            // Absolute: some tools run in another working folder.
            return PackFiles::fromFsPath(std::filesystem::absolute(PackFiles::fsPath(candidate)));
        }
    }
    VT_RAISE(tstrings::TextBuilder()
             << tool << L" is needed for " << purpose << L" and is not installed (Debian package "
             << debianPackage << L")");
}

std::string checkedOutput(const tstring& program, const PackHost::ProcessResult& result) {
    PackHost::checkNotStopped();
    if (result.exitCode != 0) {
        VT_RAISE(tstrings::TextBuilder() << RuntimeLinker::toolFailureText(
                     FileUtils::lastComponent(program), result.exitCode, result.out, result.err));
    }
    return result.out;
}

PackHost::ProcessResult runUnchecked(const tstring& program, const tstring_array& args,
                                     const tstring& dir) {
    tstring_array command = args;
    tstring executable = program;
    if (!dir.empty()) {
        // The folder and the command stay separate arguments: no quoting for the shell.
        command = {L"-c", L"cd \"$1\" && shift && exec \"$@\"", L"sh", dir, program};
        command.insert(command.end(), args.begin(), args.end());
        executable = L"/bin/sh";
    }
    PackHost::ProcessResult result = PackHost::runProcess(executable, command);
    PackHost::checkNotStopped();
    return result;
}

std::string run(const tstring& program, const tstring_array& args, const tstring& dir) {
    return checkedOutput(program, runUnchecked(program, args, dir));
}

std::string runWithSecret(const tstring& program, const std::string& secret,
                          const std::function<tstring_array(const tstring&)>& makeArgs) {
    return checkedOutput(program, PackHost::runProcessWithSecret(program, secret, makeArgs));
}

} // namespace PackageTools
