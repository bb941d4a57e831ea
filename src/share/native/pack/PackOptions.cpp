#include "PackOptions.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "FileUtils.h"
#include "InputNames.h"
#include "VersionInfo.h"

tstring PackTarget::runtimeLibrary() const {
    return tstring(runtime->libDir) + L'/' + runtime->launcherLib;
}

bool PackTarget::runsWhere(const PackTarget& other) const {
    return tstring(launcherDir) == other.launcherDir;
}

namespace PackTargets {
// EM_X86_64 and EM_AARCH64.
const PackTarget linux64 = {
    L"linux", L"linux-x86_64", L"vantrel", L"",      L'/', &JavaRuntime::linuxLayout,
    false,    L"amd64",        62,         L"x86_64"};
const PackTarget linuxArm64 = {L"linux-aarch64",
                               L"linux-aarch64",
                               L"vantrel",
                               L"",
                               L'/',
                               &JavaRuntime::linuxLayout,
                               false,
                               L"arm64",
                               183,
                               L"aarch64"};
const PackTarget windows64 = {L"windows",
                              L"windows-x86_64",
                              L"vantrel.exe",
                              L".exe",
                              L'\\',
                              &JavaRuntime::windowsLayout,
                              true,
                              nullptr,
                              0,
                              nullptr};
const PackTarget windowsGui64 = {L"windows-gui",
                                 L"windows-x86_64",
                                 L"vantrelw.exe",
                                 L".exe",
                                 L'\\',
                                 &JavaRuntime::windowsLayout,
                                 true,
                                 nullptr,
                                 0,
                                 nullptr};

const PackTarget* find(const tstring& name) {
    for (const PackTarget* target : {&linux64, &linuxArm64, &windows64, &windowsGui64}) {
        if (name == target->name) {
            return target;
        }
    }
    return nullptr;
}
} // namespace PackTargets

const char* const packUsageLine =
    "Usage: vantrel-pack --name NAME --input DIR --dest DIR [options]";

namespace PackOpt {
using K = PackOption;
const PackOption name = {L"--name", "NAME", "the application's name", K::Single};
const PackOption input = {L"--input", "DIR", "the application's files, copied whole to app/",
                          K::Single};
const PackOption dest = {L"--dest", "DIR", "where the image goes; DEST/NAME must not exist",
                         K::Single};
const PackOption replace = {L"--replace", nullptr,
                            "replaces DEST/NAME when it is an image that vantrel-pack made",
                            K::Flag};
const PackOption mainJar = {L"--main-jar", "FILE", "the main jar, relative to the input",
                            K::Single};
const PackOption mainClass = {L"--main-class", "CLASS",
                              "when the main jar's manifest names none, or to override it",
                              K::Single};
const PackOption module = {L"--module", "MODULE[/CLASS]", "the main module, found on --module-path",
                           K::Single};
const PackOption modulePath = {L"--module-path", "PATH", "relative to the input; repeatable",
                               K::Repeated};
const PackOption classPath = {L"--class-path", "PATH",
                              "more class path entries, relative to the input; repeatable;\n"
                              "DIR/* is every jar directly in DIR, sorted by name",
                              K::Repeated};
const PackOption javaOptions = {L"--java-options", "TEXT", "one JVM option; repeatable",
                                K::Repeated};
const PackOption arguments = {L"--arguments", "TEXT", "one default argument; repeatable",
                              K::Repeated};
const PackOption package = {L"--package", "NAME", "writes app/.package (per-user configuration)",
                            K::Single};
const PackOption splash = {L"--splash", "FILE", "the splash screen image, relative to the input",
                           K::Single};
const PackOption noRestart = {L"--no-restart", nullptr,
                              "the Windows launcher does not restart itself", K::Flag};
const PackOption cds = {L"--cds", nullptr, "the start-up archive, which is on by default", K::Flag};
const PackOption noCds = {L"--no-cds", nullptr, "no start-up archive in the user's cache", K::Flag};
const PackOption runtime = {L"--runtime", "DIR", "copies this Java runtime image", K::Single};
const PackOption jlinkFrom = {L"--jlink-from", "JDK",
                              "links the runtime with this JDK (default: JAVA_HOME, else the\n"
                              "JDK of the javac on the path)",
                              K::Single};
const PackOption jmods = {L"--jmods", "DIR", "the target's jmods, to link for another platform",
                          K::Single};
const PackOption addModules = {L"--add-modules", "LIST",
                               "every module of the runtime: none found, no providers", K::Single};
const PackOption extraModules = {L"--extra-modules", "LIST",
                                 "modules added to those found and the providers", K::Single};
const PackOption noProviderModules = {
    L"--no-provider-modules", nullptr,
    "the smallest runtime: the modules found alone\n"
    "(found: what jdeps finds in the main jar, the class path, the\n"
    "jars their manifests' Class-Path names, and the module path;\n"
    "providers, which programs reach by name: jdk.charsets,\n"
    "jdk.crypto.ec, jdk.crypto.mscapi, jdk.localedata, jdk.random,\n"
    "jdk.zipfs, those that the JDK or the jmods have)",
    K::Flag};
const PackOption target = {L"--target", "TARGET",
                           "linux, linux-aarch64, windows or windows-gui\n"
                           "(default: this system's; linux is x86-64)",
                           K::Single};
const PackOption launcher = {L"--launcher", "FILE",
                             "the launcher binary to copy instead of the installed one", K::Single};
const PackOption icon = {L"--icon", "FILE.ico", nullptr, K::Single, K::SameLine};
const PackOption appVersion = {L"--app-version", "A[.B[.C[.D]]][QUALIFIER] (1.2.3-SNAPSHOT)",
                               nullptr, K::Single, K::NextLine};
const PackOption vendor = {L"--vendor", "TEXT", nullptr, K::Single, K::SameLine};
const PackOption description = {L"--description", "TEXT", nullptr, K::Single, K::NextLine};
const PackOption copyright = {L"--copyright", "TEXT", "the Windows launcher's resources",
                              K::Single};
const PackOption type = {L"--type", "TYPE",
                         "image (default), msi, deb, rpm or zip: DEST/NAME-VERSION.msi,\n"
                         "DEST/PKG_VERSION_amd64.deb, DEST/PKG-VERSION-1.x86_64.rpm (arm64,\n"
                         "aarch64 for linux-aarch64) or\n"
                         "DEST/NAME-VERSION.zip",
                         K::Single};
const PackOption perUser = {L"--per-user", nullptr, nullptr, K::Flag, K::SameLine};
const PackOption desktopShortcut = {L"--desktop-shortcut", nullptr, nullptr, K::Flag, K::SameLine};
const PackOption upgradeCode = {L"--upgrade-code", "UUID",
                                "msi: install for the user only, a desktop shortcut too, the\n"
                                "code that upgrades share (default: from vendor and name)",
                                K::Single};
const PackOption linuxPackageName = {L"--linux-package-name", "PKG", nullptr, K::Single,
                                     K::SameLine};
const PackOption maintainer = {L"--maintainer", "\"NAME <MAIL>\"", nullptr, K::Single, K::SameLine};
const PackOption desktopEntry = {L"--desktop-entry", nullptr,
                                 "deb, rpm: the package name (default: from NAME), its\n"
                                 "maintainer (default: --vendor), a menu entry with the --icon",
                                 K::Flag};
const PackOption signPkcs12 = {L"--sign-pkcs12", "FILE",
                               "signs the Windows launcher and the installer (osslsigncode)",
                               K::Single};
const PackOption signPasswordEnv = {L"--sign-password-env", "VAR",
                                    "the environment variable that holds the password", K::Single};
const PackOption timestampUrl = {L"--timestamp-url", "URL",
                                 "a time-stamping server for the signatures", K::Single};
// Desktop integration
const PackOption fileType = {L"--file-type", "EXT:MIME[:DESCRIPTION]",
                             "msi, deb: the application opens these files; repeatable",
                             K::Repeated};
const PackOption urlScheme = {L"--url-scheme", "SCHEME",
                              "msi, deb: and links SCHEME:...; repeatable", K::Repeated};
const PackOption addLauncher = {L"--add-launcher", "NAME:MAINCLASS[:gui]",
                                "one more launcher in the image, app/NAME.cfg; repeatable",
                                K::Repeated};
// The release site
const PackOption publish = {L"--publish", "SITE",
                            "adds the package to the release site SITE, a folder for any\n"
                            "static web server (deb: the apt repository SITE/apt)",
                            K::Single};
const PackOption aptSigningKey = {L"--apt-signing-key", "KEYID",
                                  "deb: the gpg key that signs the apt repository, exported\n"
                                  "as SITE/apt/KEY.gpg",
                                  K::Single};
const PackOption updateKey = {L"--update-key", "FILE",
                              "msi, zip: the ECDSA P-256 private key (PEM) that signs the\n"
                              "site's update metadata",
                              K::Single};
const PackOption updateUrl = {
    L"--update-url", "URL", "msi: the site's address that the launcher checks (https)", K::Single};
const PackOption updateCheck = {L"--update-check", "every-start|daily|weekly|never", nullptr,
                                K::Single, K::NextLine};
const PackOption updateMode = {L"--update-mode", "auto|ask",
                               "how often, and whether to install without asking\n"
                               "(default: daily, ask)",
                               K::Single};
const PackOption quiet = {L"--quiet", nullptr, "prints nothing but errors", K::Flag};
const PackOption help = {L"--help", nullptr, nullptr, K::Flag, K::SameLine};
const PackOption version = {L"--version", nullptr, "", K::Flag};
} // namespace PackOpt

namespace {

const PackOption* const optionTable[] = {
    &PackOpt::name,          &PackOpt::input,
    &PackOpt::dest,          &PackOpt::replace,
    &PackOpt::mainJar,       &PackOpt::mainClass,
    &PackOpt::module,        &PackOpt::modulePath,
    &PackOpt::classPath,     &PackOpt::javaOptions,
    &PackOpt::arguments,     &PackOpt::package,
    &PackOpt::splash,        &PackOpt::noRestart,
    &PackOpt::cds,           &PackOpt::noCds,
    &PackOpt::runtime,       &PackOpt::jlinkFrom,
    &PackOpt::jmods,         &PackOpt::addModules,
    &PackOpt::extraModules,  &PackOpt::noProviderModules,
    &PackOpt::target,        &PackOpt::launcher,
    &PackOpt::icon,          &PackOpt::appVersion,
    &PackOpt::vendor,        &PackOpt::description,
    &PackOpt::copyright,     &PackOpt::type,
    &PackOpt::perUser,       &PackOpt::desktopShortcut,
    &PackOpt::upgradeCode,   &PackOpt::linuxPackageName,
    &PackOpt::maintainer,    &PackOpt::desktopEntry,
    &PackOpt::signPkcs12,    &PackOpt::signPasswordEnv,
    &PackOpt::timestampUrl,  &PackOpt::publish,
    &PackOpt::aptSigningKey, &PackOpt::updateKey,
    &PackOpt::updateUrl,     &PackOpt::updateCheck,
    &PackOpt::updateMode,    &PackOpt::fileType,
    &PackOpt::urlScheme,     &PackOpt::addLauncher,
    &PackOpt::quiet,         &PackOpt::help,
    &PackOpt::version,
};

const std::size_t helpColumn = 27;

// The help's lines from the column: the first beside the usage when the usage leaves room.
// lineStart is where the text's last line begins.
void appendHelpLines(std::string& text, std::size_t lineStart, const char* help) {
    if (text.size() - lineStart + 2 > helpColumn) {
        text += '\n';
        lineStart = text.size();
    }
    while (*help != '\0') {
        text.append(lineStart + helpColumn - text.size(), ' ');
        const char* const lineEnd = std::strchr(help, '\n');
        const std::size_t length = lineEnd ? lineEnd - help : std::strlen(help);
        text.append(help, length).append(1, '\n');
        lineStart = text.size();
        help += lineEnd ? length + 1 : length;
    }
}

} // namespace

std::string packHelpText() {
    std::string text(packUsageLine);
    text += "\nBuilds DEST/NAME: the launcher as NAME (NAME.exe for Windows), app/ with the input "
            "and\nNAME.cfg, and runtime/.\n\n";
    std::size_t lineStart = text.size();
    text += "  ";
    for (const PackOption* option : optionTable) {
        for (const wchar_t* c = option->name; *c != L'\0'; ++c) {
            text += static_cast<char>(*c); // the names are ASCII
        }
        if (option->argument) {
            text.append(1, ' ').append(option->argument);
        }
        if (option->help == nullptr) {
            text += option->join == PackOption::SameLine ? ", " : ",\n";
        } else if (*option->help == '\0') {
            text += '\n';
        } else {
            appendHelpLines(text, lineStart, option->help);
        }
        if (text.back() == '\n') {
            lineStart = text.size();
            text += "  ";
        }
    }
    text.resize(lineStart);
    return text;
}

[[noreturn]] void usageError(const tstrings::TextBuilder& message) {
    VT_RAISE(UsageError(message.utf8()));
}

[[noreturn]] void usageError(const char* message) {
    VT_RAISE(UsageError(message));
}

[[noreturn]] void valueRefused(const tstrings::TextBuilder& message) {
    VT_RAISE(UsageError(message.utf8(), false));
}

tstring printable(tstring text) {
    for (wchar_t& c : text) {
        c = c < 0x20 || c == 0x7F ? L'?' : c;
    }
    return text;
}

// Names a file or directory of its own: the image, its launcher, the per-user configuration
// directory. Everywhere: no control character, no '/' nor '\' (the launcher splits paths at
// both), no ':' (it would split the class path list on Linux and is a drive or stream on
// Windows), not "." nor "..". The Windows targets also refuse what Windows can't create: its
// other reserved characters, a trailing dot or space, device names. A Linux image keeps those,
// since Linux creates them and an image rarely moves between the two.
bool usableFileName(const tstring& value, const PackTarget& target) {
    bool usable = !value.empty() && value != L"." && value != L"..";
    for (const wchar_t c : value) {
        usable = usable && c >= 0x20 && c != 0x7F && tstring(L"/\\:").find(c) == tstring::npos;
    }
    return usable && (!target.windows || InputNames::windowsCanHold(value));
}

namespace {

typedef std::map<tstring, tstring_array> OptionValues;

const PackOption& findOption(const tstring& name) {
    for (const PackOption* option : optionTable) {
        if (name == option->name) {
            return *option;
        }
    }
    usageError(tstrings::TextBuilder()
               << (tstrings::startsWith(name, L"-") ? L"unknown option " : L"unexpected argument ")
               << printable(name));
}

// The configuration is line-based, its reader stops at Ctrl+Z, and file names can't hold these
// either.
void checkValue(const tstring& option, const tstring& value) {
    if (value.find_first_of(tstring(L"\r\n\0", 3)) != tstring::npos) {
        usageError(tstrings::TextBuilder() << option << L" takes no value with a line end");
    }
    if (value.find(L'\x1a') != tstring::npos) {
        usageError(tstrings::TextBuilder() << option << L" takes no value with Ctrl+Z (0x1A)");
    }
}

// "--opt VALUE" and "--opt=VALUE"; a value may begin with '-'.
OptionValues splitOptions(const tstring_array& args) {
    OptionValues values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::size_t eq = args[i].find(L'=');
        const tstring name = args[i].substr(0, eq);
        const PackOption& definition = findOption(name);
        tstring value;
        if (definition.kind == PackOption::Flag) {
            if (eq != tstring::npos) {
                usageError(tstrings::TextBuilder() << name << L" takes no value");
            }
        } else if (eq != tstring::npos) {
            value = args[i].substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            usageError(tstrings::TextBuilder() << name << L" needs a value");
        }
        if (definition.kind != PackOption::Repeated && values.count(name) != 0) {
            usageError(tstrings::TextBuilder() << name << L" is given twice");
        }
        checkValue(name, value);
        values[name].push_back(value);
    }
    return values;
}

bool given(const OptionValues& values, const PackOption& option) {
    return values.count(option.name) != 0;
}

tstring single(const OptionValues& values, const PackOption& option) {
    const auto found = values.find(option.name);
    return found == values.end() ? tstring() : found->second.front();
}

tstring_array repeated(const OptionValues& values, const PackOption& option) {
    const auto found = values.find(option.name);
    return found == values.end() ? tstring_array() : found->second;
}

// An empty JVM option makes the runtime refuse to start; an empty default argument is a build
// script's mistake far more often than a wish.
tstring_array nonEmptyValues(const OptionValues& values, const PackOption& option) {
    const tstring_array result = repeated(values, option);
    if (std::find(result.begin(), result.end(), tstring()) != result.end()) {
        usageError(tstrings::TextBuilder() << option.name << L" takes no empty value");
    }
    return result;
}

tstring required(const OptionValues& values, const PackOption& option) {
    const tstring value = single(values, option);
    if (value.empty()) {
        usageError(tstrings::TextBuilder() << option.name << L" is required");
    }
    return value;
}

void checkFileName(const PackOption& option, const tstring& value, const PackTarget& target) {
    if (!usableFileName(value, target)) {
        usageError(tstrings::TextBuilder() << option.name << L" is not usable as a file name: \""
                                           << printable(value) << L"\"");
    }
}

// The image holds the input only: a path must stay inside it.
void checkInsideInput(const PackOption& option, const tstring& path) {
    bool inside =
        !path.empty() && !FileUtils::isPathSeparator(path[0]) && path.find(L':') == tstring::npos;
    for (const tstring& part : tstrings::split(tstrings::replace(path, L"\\", L"/"), L"/")) {
        inside = inside && part != L"..";
    }
    if (!inside) {
        usageError(tstrings::TextBuilder()
                   << option.name << L" must name a path inside the input: \"" << path << L"\"");
    }
}

tstring_array pathEntries(const OptionValues& values, const PackOption& option) {
    tstring_array entries;
    for (const tstring& value : repeated(values, option)) {
        for (const tstring& entry :
             tstrings::split(value, tstring(1, FileUtils::pathListSeparator))) {
            checkInsideInput(option, entry);
            entries.push_back(entry);
        }
    }
    return entries;
}

// A[.B[.C[.D]]] and any qualifier, each number one the version resource can hold: what the
// stamping accepts.
void checkAppVersion(const tstring& version) {
    // Package file names hold the version.
    if (version.find_first_of(L"/\\") != tstring::npos) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version takes no / or \\: \"" << printable(version) << L"\"");
    }
    try {
        parseVersionNumber(version);
    } catch (const std::exception&) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version must be A[.B[.C[.D]]][QUALIFIER] with numbers up to 65535: \""
                   << version << L"\"");
    }
}

void readMain(const OptionValues& values, PackOptions& options) {
    options.mainJar = single(values, PackOpt::mainJar);
    options.mainClass = single(values, PackOpt::mainClass);
    options.mainModule = single(values, PackOpt::module);
    options.modulePath = pathEntries(values, PackOpt::modulePath);
    options.classPath = pathEntries(values, PackOpt::classPath);
    if (!options.mainJar.empty()) {
        checkInsideInput(PackOpt::mainJar, options.mainJar);
    }
    if (options.mainModule.empty()) {
        if (options.mainJar.empty() && options.mainClass.empty()) {
            usageError("one of --main-jar, --main-class and --module is required");
        }
        if (options.mainJar.empty() && options.classPath.empty()) {
            usageError("--main-class without --main-jar needs --class-path");
        }
        return;
    }
    if (!options.mainJar.empty() || !options.mainClass.empty()) {
        usageError("--module does not go with --main-jar or --main-class");
    }
    if (options.modulePath.empty()) {
        usageError("--module needs --module-path");
    }
    const std::size_t slash = options.mainModule.find(L'/');
    if (slash == 0 || slash + 1 == options.mainModule.size()) {
        usageError(tstrings::TextBuilder() << L"--module must be MODULE or MODULE/CLASS: \""
                                           << options.mainModule << L"\"");
    }
}

void readRuntime(const OptionValues& values, PackOptions& options) {
    options.runtime = single(values, PackOpt::runtime);
    options.jlinkFrom = single(values, PackOpt::jlinkFrom);
    options.jmods = single(values, PackOpt::jmods);
    options.addModules = single(values, PackOpt::addModules);
    options.extraModules = single(values, PackOpt::extraModules);
    options.noProviderModules = given(values, PackOpt::noProviderModules);
    const bool modulesFound = !options.extraModules.empty() || options.noProviderModules;
    if (!options.runtime.empty() &&
        (!(options.jlinkFrom + options.jmods + options.addModules).empty() || modulesFound)) {
        usageError("--runtime does not go with --jlink-from, --jmods or the module options");
    }
    if (!options.addModules.empty() && modulesFound) {
        usageError("--add-modules names every module: it does not go with --extra-modules or "
                   "--no-provider-modules");
    }
    for (const PackOption* option : {&PackOpt::addModules, &PackOpt::extraModules}) {
        if (given(values, *option) &&
            single(values, *option).find_first_not_of(L", ") == tstring::npos) {
            usageError(tstrings::TextBuilder() << option->name << L" needs at least one module");
        }
    }
}

void readResources(const OptionValues& values, PackOptions& options) {
    WindowsResources& resources = options.resources;
    resources.icon = single(values, PackOpt::icon);
    resources.appVersion = single(values, PackOpt::appVersion);
    resources.vendor = single(values, PackOpt::vendor);
    resources.description = single(values, PackOpt::description);
    resources.copyright = single(values, PackOpt::copyright);
    if (given(values, PackOpt::appVersion)) {
        checkAppVersion(resources.appVersion);
    }
    if (!resources.empty() && !options.target->windows && !linuxPackageTakesResources(options)) {
        usageError(tstrings::TextBuilder()
                   << resources.givenOptions() << L": only for the Windows targets");
    }
}

void readPackage(const OptionValues& values, PackOptions& options) {
    const tstring type = single(values, PackOpt::type);
    const PackageType* found = given(values, PackOpt::type) ? findPackageType(type) : nullptr;
    if (given(values, PackOpt::type) && found == nullptr) {
        usageError(tstrings::TextBuilder()
                   << L"unknown type \"" << printable(type) << L"\" (image, msi, deb, rpm or zip)");
    }
    PackageOptions& package = options.package;
    package.type = found ? *found : PackageType::Image;
    package.perUser = given(values, PackOpt::perUser);
    package.desktopShortcut = given(values, PackOpt::desktopShortcut);
    package.upgradeCode = single(values, PackOpt::upgradeCode);
    package.linuxPackageName = single(values, PackOpt::linuxPackageName);
    package.maintainer = single(values, PackOpt::maintainer);
    package.desktopEntry = given(values, PackOpt::desktopEntry);
    package.signPkcs12 = single(values, PackOpt::signPkcs12);
    package.signPasswordEnv = single(values, PackOpt::signPasswordEnv);
    package.timestampUrl = single(values, PackOpt::timestampUrl);
    // The release site
    package.publish = single(values, PackOpt::publish);
    package.aptSigningKey = single(values, PackOpt::aptSigningKey);
    package.updateKey = single(values, PackOpt::updateKey);
    package.updateUrl = single(values, PackOpt::updateUrl);
    package.updateCheck = single(values, PackOpt::updateCheck);
    package.updateMode = single(values, PackOpt::updateMode);
}

} // namespace

PackCommand parsePackCommand(const tstring_array& args, const PackTarget& hostTarget) {
    const OptionValues values = splitOptions(args);
    PackCommand command;
    if (given(values, PackOpt::help)) {
        command.action = PackCommand::Help;
        return command;
    }
    if (given(values, PackOpt::version)) {
        command.action = PackCommand::Version;
        return command;
    }

    PackOptions& options = command.options;
    const tstring targetName = single(values, PackOpt::target);
    options.target = given(values, PackOpt::target) ? PackTargets::find(targetName) : &hostTarget;
    if (options.target == nullptr) {
        usageError(tstrings::TextBuilder() << L"unknown target \"" << targetName
                                           << L"\" (linux, linux-aarch64, windows or windows-gui)");
    }
    options.name = required(values, PackOpt::name);
    checkFileName(PackOpt::name, options.name, *options.target);
    options.input = required(values, PackOpt::input);
    options.dest = required(values, PackOpt::dest);
    options.replace = given(values, PackOpt::replace);
    readMain(values, options);
    options.javaOptions = nonEmptyValues(values, PackOpt::javaOptions);
    options.arguments = nonEmptyValues(values, PackOpt::arguments);
    options.packageName = single(values, PackOpt::package);
    if (given(values, PackOpt::package)) {
        checkFileName(PackOpt::package, options.packageName, *options.target);
    }
    options.splash = single(values, PackOpt::splash);
    if (given(values, PackOpt::splash)) {
        checkInsideInput(PackOpt::splash, options.splash);
    }
    options.noRestart = given(values, PackOpt::noRestart);
    options.cdsAsked = given(values, PackOpt::cds);
    options.cds = !given(values, PackOpt::noCds);
    if (options.cdsAsked && !options.cds) {
        usageError("--cds does not go with --no-cds");
    }
    options.quiet = given(values, PackOpt::quiet);
    readRuntime(values, options);
    options.launcher = single(values, PackOpt::launcher);
    readPackage(values, options);
    readResources(values, options);
    resolvePackageOptions(options,
                          [&values](const PackOption& option) { return given(values, option); });
    resolveDesktopOptions(options, repeated(values, PackOpt::fileType),
                          repeated(values, PackOpt::urlScheme),
                          repeated(values, PackOpt::addLauncher));
    return command;
}
