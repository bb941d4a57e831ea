#include "PackOptions.h"

#include <algorithm>
#include <map>

#include "FileUtils.h"
#include "VersionInfo.h"

namespace PackTargets {
const PackTarget linux64 = {L"linux", L"linux-x86_64",  L"vantrel", L"",
                            L'/',     L"lib/libjli.so", false};
const PackTarget windows64 = {
    L"windows", L"windows-x86_64", L"vantrel.exe", L".exe", L'\\', L"bin/jli.dll", true};
const PackTarget windowsGui64 = {
    L"windows-gui", L"windows-x86_64", L"vantrelw.exe", L".exe", L'\\', L"bin/jli.dll", true};

const PackTarget* find(const tstring& name) {
    for (const PackTarget* target : {&linux64, &windows64, &windowsGui64}) {
        if (name == target->name) {
            return target;
        }
    }
    return nullptr;
}
} // namespace PackTargets

const char* const packUsageLine =
    "Usage: vantrel-pack --name NAME --input DIR --dest DIR [options]";

const char* const packHelpText =
    "Usage: vantrel-pack --name NAME --input DIR --dest DIR [options]\n"
    "Builds DEST/NAME: the launcher as NAME (NAME.exe for Windows), app/ with the input and\n"
    "NAME.cfg, and runtime/.\n"
    "\n"
    "  --name NAME              the application's name\n"
    "  --input DIR              the application's files, copied whole to app/\n"
    "  --dest DIR               where the image goes; DEST/NAME must not exist\n"
    "  --replace                replaces DEST/NAME when it is an image that vantrel-pack made\n"
    "  --main-jar FILE          the main jar, relative to the input\n"
    "  --main-class CLASS       when the main jar's manifest names none, or to override it\n"
    "  --module MODULE[/CLASS]  the main module, found on --module-path\n"
    "  --module-path PATH       relative to the input; repeatable\n"
    "  --class-path PATH        more class path entries, relative to the input; repeatable;\n"
    "                           DIR/* is every jar directly in DIR, sorted by name\n"
    "  --java-options TEXT      one JVM option; repeatable\n"
    "  --arguments TEXT         one default argument; repeatable\n"
    "  --package NAME           writes app/.package (per-user configuration)\n"
    "  --splash FILE            the splash screen image, relative to the input\n"
    "  --no-restart             the Windows launcher does not restart itself\n"
    "  --cds                    a class-data archive made at first start\n"
    "  --runtime DIR            copies this Java runtime image\n"
    "  --jlink-from JDK         links the runtime with this JDK (default: JAVA_HOME, else the\n"
    "                           JDK of the javac on the path)\n"
    "  --jmods DIR              the target's jmods, to link for another platform\n"
    "  --add-modules LIST       every module of the runtime: none found, no providers\n"
    "  --extra-modules LIST     modules added to those found and the providers\n"
    "  --no-provider-modules    the smallest runtime: the modules found alone\n"
    "                           (found: what jdeps finds in the main jar, the class path, the\n"
    "                           jars their manifests' Class-Path names, and the module path;\n"
    "                           providers, which programs reach by name: jdk.charsets,\n"
    "                           jdk.crypto.ec, jdk.crypto.mscapi, jdk.localedata, jdk.random,\n"
    "                           jdk.zipfs, those that the JDK or the jmods have)\n"
    "  --target TARGET          linux, windows or windows-gui (default: this system's)\n"
    "  --launcher FILE          the launcher binary to copy instead of the installed one\n"
    "  --icon FILE.ico, --app-version A[.B[.C[.D]]][QUALIFIER] (1.2.3-SNAPSHOT),\n"
    "  --vendor TEXT, --description TEXT,\n"
    "  --copyright TEXT         the Windows launcher's resources\n"
    "  --type TYPE              image (default), msi, deb or zip: DEST/NAME-VERSION.msi,\n"
    "                           DEST/PKG_VERSION_amd64.deb or DEST/NAME-VERSION.zip\n"
    "  --per-user, --desktop-shortcut, --upgrade-code UUID\n"
    "                           msi: install for the user only, a desktop shortcut too, the\n"
    "                           code that upgrades share (default: from vendor and name)\n"
    "  --linux-package-name PKG, --maintainer \"NAME <MAIL>\", --desktop-entry\n"
    "                           deb: the package name (default: from NAME), its maintainer\n"
    "                           (default: --vendor), a menu entry with the --icon\n"
    "  --sign-pkcs12 FILE       signs the Windows launcher and the installer (osslsigncode)\n"
    "  --sign-password-env VAR  the environment variable that holds the password\n"
    "  --timestamp-url URL      a time-stamping server for the signatures\n"
    "  --quiet                  prints nothing but errors\n"
    "  --help, --version\n";

namespace {

enum class OptionKind { Single, Repeated, Flag };

struct OptionDef {
    const wchar_t* name;
    OptionKind kind;
};

const OptionDef optionTable[] = {
    {L"--name", OptionKind::Single},
    {L"--input", OptionKind::Single},
    {L"--dest", OptionKind::Single},
    {L"--replace", OptionKind::Flag},
    {L"--main-jar", OptionKind::Single},
    {L"--main-class", OptionKind::Single},
    {L"--module", OptionKind::Single},
    {L"--module-path", OptionKind::Repeated},
    {L"--class-path", OptionKind::Repeated},
    {L"--java-options", OptionKind::Repeated},
    {L"--arguments", OptionKind::Repeated},
    {L"--package", OptionKind::Single},
    {L"--splash", OptionKind::Single},
    {L"--no-restart", OptionKind::Flag},
    {L"--cds", OptionKind::Flag},
    {L"--runtime", OptionKind::Single},
    {L"--jlink-from", OptionKind::Single},
    {L"--jmods", OptionKind::Single},
    {L"--add-modules", OptionKind::Single},
    {L"--extra-modules", OptionKind::Single},
    {L"--no-provider-modules", OptionKind::Flag},
    {L"--target", OptionKind::Single},
    {L"--launcher", OptionKind::Single},
    {L"--icon", OptionKind::Single},
    {L"--app-version", OptionKind::Single},
    {L"--vendor", OptionKind::Single},
    {L"--description", OptionKind::Single},
    {L"--copyright", OptionKind::Single},
    {L"--type", OptionKind::Single},
    {L"--per-user", OptionKind::Flag},
    {L"--desktop-shortcut", OptionKind::Flag},
    {L"--upgrade-code", OptionKind::Single},
    {L"--linux-package-name", OptionKind::Single},
    {L"--maintainer", OptionKind::Single},
    {L"--desktop-entry", OptionKind::Flag},
    {L"--sign-pkcs12", OptionKind::Single},
    {L"--sign-password-env", OptionKind::Single},
    {L"--timestamp-url", OptionKind::Single},
    {L"--quiet", OptionKind::Flag},
    {L"--help", OptionKind::Flag},
    {L"--version", OptionKind::Flag},
};

typedef std::map<tstring, tstring_array> OptionValues;

[[noreturn]] void usageError(const tstrings::TextBuilder& message) {
    VT_RAISE(UsageError(message.utf8()));
}

[[noreturn]] void usageError(const char* message) {
    VT_RAISE(UsageError(message));
}

// An error message stays one line whatever the command line held.
tstring printable(tstring text) {
    for (wchar_t& c : text) {
        c = c < 0x20 || c == 0x7F ? L'?' : c;
    }
    return text;
}

const OptionDef& findOption(const tstring& name) {
    for (const OptionDef& definition : optionTable) {
        if (name == definition.name) {
            return definition;
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
        const OptionDef& definition = findOption(name);
        tstring value;
        if (definition.kind == OptionKind::Flag) {
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
        if (definition.kind != OptionKind::Repeated && values.count(name) != 0) {
            usageError(tstrings::TextBuilder() << name << L" is given twice");
        }
        checkValue(name, value);
        values[name].push_back(value);
    }
    return values;
}

tstring single(const OptionValues& values, const wchar_t* name) {
    const auto found = values.find(name);
    return found == values.end() ? tstring() : found->second.front();
}

tstring_array repeated(const OptionValues& values, const wchar_t* name) {
    const auto found = values.find(name);
    return found == values.end() ? tstring_array() : found->second;
}

// An empty JVM option makes the runtime refuse to start; an empty default argument is a build
// script's mistake far more often than a wish.
tstring_array nonEmptyValues(const OptionValues& values, const wchar_t* name) {
    const tstring_array result = repeated(values, name);
    if (std::find(result.begin(), result.end(), tstring()) != result.end()) {
        usageError(tstrings::TextBuilder() << name << L" takes no empty value");
    }
    return result;
}

tstring required(const OptionValues& values, const wchar_t* name) {
    const tstring value = single(values, name);
    if (value.empty()) {
        usageError(tstrings::TextBuilder() << name << L" is required");
    }
    return value;
}

bool isWindowsDeviceName(const tstring& value) {
    // "CON.txt" and "con .txt" name the device too.
    tstring base = tstrings::toLower(value.substr(0, value.find(L'.')));
    base.erase(base.find_last_not_of(L' ') + 1);
    if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul") {
        return true;
    }
    return base.size() == 4 &&
           (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// Names a file or directory of its own: the image, its launcher, the per-user configuration
// directory. Everywhere: no control character, no '/' nor '\' (the launcher splits paths at
// both), no ':' (it would split the class path list on Linux and is a drive or stream on
// Windows), not "." nor "..". The Windows targets also refuse what Windows can't create: its
// other reserved characters, a trailing dot or space, device names. A Linux image keeps those,
// since Linux creates them and an image rarely moves between the two.
void checkFileName(const wchar_t* option, const tstring& value, const PackTarget& target) {
    bool usable = !value.empty() && value != L"." && value != L"..";
    for (const wchar_t c : value) {
        usable = usable && c >= 0x20 && c != 0x7F && tstring(L"/\\:").find(c) == tstring::npos;
        if (target.windows) {
            usable = usable && tstring(L"<>\"|?*").find(c) == tstring::npos;
        }
    }
    if (target.windows && usable &&
        (value.back() == L'.' || value.back() == L' ' || isWindowsDeviceName(value))) {
        usable = false;
    }
    if (!usable) {
        usageError(tstrings::TextBuilder()
                   << option << L" is not usable as a file name: \"" << printable(value) << L"\"");
    }
}

// The image holds the input only: a path must stay inside it.
void checkInsideInput(const wchar_t* option, const tstring& path) {
    bool inside =
        !path.empty() && !FileUtils::isPathSeparator(path[0]) && path.find(L':') == tstring::npos;
    for (const tstring& part : tstrings::split(tstrings::replace(path, L"\\", L"/"), L"/")) {
        inside = inside && part != L"..";
    }
    if (!inside) {
        usageError(tstrings::TextBuilder()
                   << option << L" must name a path inside the input: \"" << path << L"\"");
    }
}

tstring_array pathEntries(const OptionValues& values, const wchar_t* option) {
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
    try {
        parseVersionNumber(version);
    } catch (const std::exception&) {
        usageError(tstrings::TextBuilder()
                   << L"--app-version must be A[.B[.C[.D]]][QUALIFIER] with numbers up to 65535: \""
                   << version << L"\"");
    }
}

void readMain(const OptionValues& values, PackOptions& options) {
    options.mainJar = single(values, L"--main-jar");
    options.mainClass = single(values, L"--main-class");
    options.mainModule = single(values, L"--module");
    options.modulePath = pathEntries(values, L"--module-path");
    options.classPath = pathEntries(values, L"--class-path");
    if (!options.mainJar.empty()) {
        checkInsideInput(L"--main-jar", options.mainJar);
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
    options.runtime = single(values, L"--runtime");
    options.jlinkFrom = single(values, L"--jlink-from");
    options.jmods = single(values, L"--jmods");
    options.addModules = single(values, L"--add-modules");
    options.extraModules = single(values, L"--extra-modules");
    options.noProviderModules = values.count(L"--no-provider-modules") != 0;
    const bool modulesFound = !options.extraModules.empty() || options.noProviderModules;
    if (!options.runtime.empty() &&
        (!(options.jlinkFrom + options.jmods + options.addModules).empty() || modulesFound)) {
        usageError("--runtime does not go with --jlink-from, --jmods or the module options");
    }
    if (!options.addModules.empty() && modulesFound) {
        usageError("--add-modules names every module: it does not go with --extra-modules or "
                   "--no-provider-modules");
    }
    for (const wchar_t* option : {L"--add-modules", L"--extra-modules"}) {
        if (values.count(option) != 0 &&
            single(values, option).find_first_not_of(L", ") == tstring::npos) {
            usageError(tstrings::TextBuilder() << option << L" needs at least one module");
        }
    }
}

void readResources(const OptionValues& values, PackOptions& options) {
    WindowsResources& resources = options.resources;
    resources.icon = single(values, L"--icon");
    resources.appVersion = single(values, L"--app-version");
    resources.vendor = single(values, L"--vendor");
    resources.description = single(values, L"--description");
    resources.copyright = single(values, L"--copyright");
    if (values.count(L"--app-version") != 0) {
        checkAppVersion(resources.appVersion);
    }
    if (!resources.empty() && !options.target->windows && !linuxPackageTakesResources(options)) {
        usageError(tstrings::TextBuilder()
                   << resources.givenOptions() << L": only for the Windows targets");
    }
}

void readPackage(const OptionValues& values, PackOptions& options) {
    const tstring type = single(values, L"--type");
    const PackageType* found = values.count(L"--type") ? findPackageType(type) : nullptr;
    if (values.count(L"--type") && found == nullptr) {
        usageError(tstrings::TextBuilder()
                   << L"unknown type \"" << printable(type) << L"\" (image, msi, deb or zip)");
    }
    PackageOptions& package = options.package;
    package.type = found ? *found : PackageType::Image;
    package.perUser = values.count(L"--per-user") != 0;
    package.desktopShortcut = values.count(L"--desktop-shortcut") != 0;
    package.upgradeCode = single(values, L"--upgrade-code");
    package.linuxPackageName = single(values, L"--linux-package-name");
    package.maintainer = single(values, L"--maintainer");
    package.desktopEntry = values.count(L"--desktop-entry") != 0;
    package.signPkcs12 = single(values, L"--sign-pkcs12");
    package.signPasswordEnv = single(values, L"--sign-password-env");
    package.timestampUrl = single(values, L"--timestamp-url");
}

} // namespace

PackCommand parsePackCommand(const tstring_array& args, const PackTarget& hostTarget) {
    const OptionValues values = splitOptions(args);
    PackCommand command;
    if (values.count(L"--help") != 0) {
        command.action = PackCommand::Help;
        return command;
    }
    if (values.count(L"--version") != 0) {
        command.action = PackCommand::Version;
        return command;
    }

    PackOptions& options = command.options;
    const tstring targetName = single(values, L"--target");
    options.target = values.count(L"--target") ? PackTargets::find(targetName) : &hostTarget;
    if (options.target == nullptr) {
        usageError(tstrings::TextBuilder()
                   << L"unknown target \"" << targetName << L"\" (linux, windows or windows-gui)");
    }
    options.name = required(values, L"--name");
    checkFileName(L"--name", options.name, *options.target);
    options.input = required(values, L"--input");
    options.dest = required(values, L"--dest");
    options.replace = values.count(L"--replace") != 0;
    readMain(values, options);
    options.javaOptions = nonEmptyValues(values, L"--java-options");
    options.arguments = nonEmptyValues(values, L"--arguments");
    options.packageName = single(values, L"--package");
    if (values.count(L"--package") != 0) {
        checkFileName(L"--package", options.packageName, *options.target);
    }
    options.splash = single(values, L"--splash");
    if (values.count(L"--splash") != 0) {
        checkInsideInput(L"--splash", options.splash);
    }
    options.noRestart = values.count(L"--no-restart") != 0;
    options.cds = values.count(L"--cds") != 0;
    options.quiet = values.count(L"--quiet") != 0;
    readRuntime(values, options);
    options.launcher = single(values, L"--launcher");
    readPackage(values, options);
    readResources(values, options);
    resolvePackageOptions(options,
                          [&values](const wchar_t* name) { return values.count(name) != 0; });
    return command;
}
