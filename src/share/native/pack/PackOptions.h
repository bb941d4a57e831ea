#ifndef VANTREL_PACKOPTIONS_H
#define VANTREL_PACKOPTIONS_H

#include <stdexcept>
#include <string>

#include "DesktopOptions.h"
#include "ErrorHandling.h"
#include "PackageOptions.h"
#include "RuntimeLibraries.h"
#include "WindowsResources.h"
#include "tstrings.h"

// What an image for one kind of launcher looks like.
struct PackTarget {
    const wchar_t* name;                // as given to --target
    const wchar_t* launcherDir;         // below share/vantrel/launchers
    const wchar_t* launcherFile;        // the launcher binary as installed
    const wchar_t* exeSuffix;           // of the launcher inside the image
    wchar_t separator;                  // inside paths of the configuration
    const JavaRuntime::Layout* runtime; // of a runtime for this target
    bool windows;
    const wchar_t* debianArch; // of its Debian packages; null for Windows
    unsigned elfMachine;       // e_machine of its ELF files; 0 for Windows
    const wchar_t* rpmArch; // an rpm package's architecture; null where there is none

    // The library that a runtime for this target must hold, as a jmod names it.
    tstring runtimeLibrary() const;
    // Whether this target's programs run where that one's do.
    bool runsWhere(const PackTarget& other) const;
};

namespace PackTargets {
extern const PackTarget linux64;
extern const PackTarget linuxArm64;
extern const PackTarget windows64;
extern const PackTarget windowsGui64;
// Null for an unknown name.
const PackTarget* find(const tstring& name);
} // namespace PackTargets

// One command-line option: what it reads and how --help shows it. The help lists the options
// in the table's order, each as "  NAME ARGUMENT" with its help from column 27; an option
// without help is listed with the next one, after a comma.
struct PackOption {
    enum Kind { Single, Repeated, Flag };
    enum Join { SameLine, NextLine }; // where an option without help leaves the next one

    const wchar_t* name;
    const char* argument; // null for a flag
    const char* help;     // lines after the first are indented too; null: listed with the next
    Kind kind;
    Join join = SameLine;
};

namespace PackOpt {
extern const PackOption name, input, dest, replace, mainJar, mainClass, module, modulePath,
    classPath, javaOptions, arguments, package, splash, noRestart, cds, noCds, runtime, jlinkFrom,
    jmods, addModules, extraModules, noProviderModules, target, launcher, icon, appVersion, vendor,
    description, copyright, type, perUser, desktopShortcut, upgradeCode, linuxPackageName,
    maintainer, desktopEntry, signPkcs12, signPasswordEnv, timestampUrl, quiet, help, version;
// The release site
extern const PackOption publish, aptSigningKey, updateKey, updateUrl, updateCheck, updateMode;
// Desktop integration
extern const PackOption fileType, urlScheme, addLauncher;
} // namespace PackOpt

struct PackOptions {
    tstring name;
    tstring input;
    tstring dest;

    tstring mainJar;
    tstring mainClass;
    tstring mainModule;
    tstring_array modulePath;
    tstring_array classPath;
    tstring_array javaOptions;
    tstring_array arguments;

    tstring packageName;
    tstring splash;
    bool noRestart = false;
    bool cds = true;       // the start-up archive, unless --no-cds
    bool cdsAsked = false; // --cds, which changes nothing but asks for a word when there is none
    bool quiet = false;
    bool replace = false;

    tstring runtime;
    tstring jlinkFrom;
    tstring jmods;
    tstring addModules;
    tstring extraModules;
    bool noProviderModules = false;

    const PackTarget* target = nullptr;
    tstring launcher;
    WindowsResources resources;
    PackageOptions package;
    DesktopOptions desktop;
};

// A command line that can't mean anything: reported with the usage, exit code 2. A refusal of
// one value says all there is in its line and goes without the usage.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message, bool withUsage = true)
        : std::runtime_error(message), withUsage(withUsage) {}
    bool withUsage;
};

inline VtError<UsageError> makeError(const UsageError& error, const SourcePosition& position) {
    return VtError<UsageError>(error, position);
}

[[noreturn]] void usageError(const tstrings::TextBuilder& message);
[[noreturn]] void usageError(const char* message);
[[noreturn]] void valueRefused(const tstrings::TextBuilder& message);

// Whether value can name a file of its own in an image for target: the rules of --name.
bool usableFileName(const tstring& value, const PackTarget& target);
// An error message stays one line whatever the command line held.
tstring printable(tstring text);

struct PackCommand {
    enum Action { Pack, Help, Version };
    Action action = Pack;
    PackOptions options;
};

// Checks everything that the command line alone decides; the file system is not touched.
PackCommand parsePackCommand(const tstring_array& args, const PackTarget& hostTarget);

extern const char* const packUsageLine;
// Generated from the option table.
std::string packHelpText();

#endif
