#include "Signing.h"

#include <filesystem>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackOptions.h"
#include "PackageTools.h"
#include "SysInfo.h"
#include "Toolbox.h"

namespace fs = std::filesystem;

namespace {

tstring signingTool() {
    return PackageTools::find(L"osslsigncode", L"--sign-pkcs12", L"osslsigncode");
}

tstring password(const PackOptions& options) {
    const tstring& variable = options.package.signPasswordEnv;
    const tstring unset = L"\n"; // no variable can hold it: the options refuse line ends
    const tstring value = SysInfo::getEnvVariable(std::nothrow, variable, unset);
    if (value == unset) {
        VT_RAISE(tstrings::TextBuilder() << L"the environment variable " << variable
                                         << L" named by --sign-password-env is not set");
    }
    if (value.empty()) {
        VT_RAISE(tstrings::TextBuilder() << L"the environment variable " << variable
                                         << L" named by --sign-password-env is empty");
    }
    return value;
}

} // namespace

namespace Signing {

bool asked(const PackOptions& options) {
    return !options.package.signPkcs12.empty();
}

void check(const PackOptions& options) {
    if (!asked(options)) {
        return;
    }
    signingTool();
    if (!PackFiles::isFile(options.package.signPkcs12)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the certificate file does not exist: " << options.package.signPkcs12);
    }
    if (!options.package.signPasswordEnv.empty()) {
        password(options);
    }
}

void sign(const PackOptions& options, const tstring& file) {
    if (!asked(options)) {
        return;
    }
    const tstring signedCopy = file + L".signed";
    const AtEndOfScope cleanUp([&] {
        std::error_code ignored;
        fs::remove(PackFiles::fsPath(signedCopy), ignored);
    });
    const auto arguments = [&](const tstring& passwordPath) {
        tstring_array args = {L"sign", L"-pkcs12", options.package.signPkcs12};
        if (!passwordPath.empty()) {
            args.insert(args.end(), {L"-readpass", passwordPath});
        }
        if (!options.package.timestampUrl.empty()) {
            args.insert(args.end(), {L"-ts", options.package.timestampUrl});
        }
        args.insert(args.end(), {L"-in", file, L"-out", signedCopy});
        return args;
    };
    try {
        // The password is never on a command line that other users can list, nor in a file.
        if (options.package.signPasswordEnv.empty()) {
            PackageTools::run(signingTool(), arguments(tstring()));
        } else {
            PackageTools::runWithSecret(signingTool(), tstrings::toUtf8(password(options)),
                                        arguments);
        }
    } catch (const VtErrorBase& error) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot sign " << FileUtils::lastComponent(file)
                                         << L": " << tstrings::fromUtf8(error.bareMessage()));
    }
    std::error_code error;
    fs::rename(PackFiles::fsPath(signedCopy), PackFiles::fsPath(file), error);
    if (error) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot replace " << file << L": " << error.message());
    }
}

} // namespace Signing
