#include "Signing.h"

#include <filesystem>
#include <fstream>

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
    return value;
}

// The password goes to the tool through a file only its owner reads, never on a command line
// that other users can list.
void writePasswordFile(const tstring& path, const tstring& password) {
    const fs::path file = PackFiles::fsPath(path);
    { std::ofstream create(file, std::ios::binary | std::ios::trunc); }
    std::error_code error;
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, error);
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    const std::string bytes = tstrings::toUtf8(password);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    stream.close();
    if (error || !stream) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot write the password file " << path);
    }
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
    const tstring passwordFile = file + L".password";
    const AtEndOfScope cleanUp([&] {
        std::error_code ignored;
        fs::remove(PackFiles::fsPath(signedCopy), ignored);
        fs::remove(PackFiles::fsPath(passwordFile), ignored);
    });
    tstring_array args = {L"sign", L"-pkcs12", options.package.signPkcs12};
    if (!options.package.signPasswordEnv.empty()) {
        writePasswordFile(passwordFile, password(options));
        args.insert(args.end(), {L"-readpass", passwordFile});
    }
    if (!options.package.timestampUrl.empty()) {
        args.insert(args.end(), {L"-ts", options.package.timestampUrl});
    }
    args.insert(args.end(), {L"-in", file, L"-out", signedCopy});
    try {
        PackageTools::run(signingTool(), args);
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
