#include "PackTool.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>

#include "CfgFileWriter.h"
#include "ClassPathFiles.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "InputNames.h"
#include "JarManifest.h"
#include "OptionFiles.h"
#include "PackFiles.h"
#include "PackHost.h"
#include "Packages.h"
#include "ReleaseSite.h"
#include "Reporter.h"
#include "RuntimeArchive.h"
#include "RuntimeLinker.h"
#include "Signing.h"
#include "StagingImage.h"
#include "UpdateSite.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0.0.0"
#endif

namespace {

void writeOut(const tstring& line) {
    std::fputs((tstrings::toUtf8(line) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void writeErr(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

// A runtime that lacks the target launcher's library would only fail when the image starts.
void checkRuntime(const tstring& runtimeDir, const PackTarget& target, const tstring& shownName) {
    const tstring library = FileUtils::joinPath(runtimeDir, target.runtimeLibrary());
    if (!PackFiles::isFile(library)) {
        VT_RAISE(tstrings::TextBuilder() << shownName << L" has no " << target.runtimeLibrary()
                                         << L" for the " << target.name << L" launcher");
    }
    // Only an ELF file can be told for another machine; stand-ins of other bytes pass, as before.
    const std::string header = PackFiles::readFile(library).substr(0, 20);
    if (target.elfMachine != 0 &&
        header.compare(0, 4,
                       "\x7f"
                       "ELF") == 0 &&
        RuntimeLinker::elfMachine(header) != target.elfMachine) {
        VT_RAISE(tstrings::TextBuilder()
                 << shownName << L" is for another machine: its " << target.runtimeLibrary()
                 << L" can't serve the " << target.name << L" launcher");
    }
}

ExistingTarget existingTarget(const PackOptions& options) {
    return options.replace ? ExistingTarget::ReplaceImage : ExistingTarget::Refuse;
}

// Everything checked and found before the first file is written.
struct PackPlan {
    PackOptions options;
    tstring input;
    tstring launcher;
    tstring_array extraLaunchers; // the binary of each --add-launcher
    tstring jdk;
    tstring mainClass;
    tstring_array emptyWildcards;
};

class Packer {
public:
    explicit Packer(const PackPlan& plan) : plan(plan), options(plan.options) {}

    void pack() {
        if (options.package.type != PackageType::Image) {
            packPackage();
            return;
        }
        StagingImage staging(options.dest, options.name, existingTarget(options));
        stageImage(staging.root());
        ImageMark::write(staging.root());
        finishImage(staging.root());
        staging.commit();
        summarize(staging.finalPath());
    }

    // The image is staged as for --type image, then made into the package; only the package
    // stays in DEST.
    void packPackage() {
        PackageOutput output(options.dest, PackageNames::outputName(options));
        StagingImage staging(options.dest, options.name);
        stageImage(staging.root());
        finishImage(staging.root());
        step(L"Writing " + output.finalPath());
        for (const tstring& warning : Packages::write(options, staging.root(), output)) {
            writeErr("vantrel-pack: warning: " + tstrings::toUtf8(warning));
        }
        PackHost::checkNotStopped();
        const std::uint64_t size = output.fileSize();
        output.commit();
        step(tstrings::format(L"Packed %ls (%.1f MiB)", output.finalPath().c_str(),
                              static_cast<double>(size) / (1 << 20)));
        if (!options.package.publish.empty()) {
            step(L"Publishing to " + options.package.publish);
            ReleaseSite::publish(options, output.finalPath());
        }
    }

    void stageImage(const tstring& root) const {
        for (const tstring& entry : plan.emptyWildcards) {
            step(L"The class path entry " + entry + L" holds no jar");
        }
        const tstring appDir = FileUtils::joinPath(root, L"app");
        step(L"Copying the input " + plan.input);
        PackFiles::copyTree(plan.input, appDir, nullptr, true);
        const tstring runtimeDir = FileUtils::joinPath(root, L"runtime");
        makeRuntime(runtimeDir);
        completeBaseArchive(runtimeDir);
        step(L"Writing the configuration app/" + options.name + L".cfg");
        writeConfiguration(appDir);
        step(L"Copying the launcher " + plan.launcher);
        const tstring exe = FileUtils::joinPath(root, options.name + options.target->exeSuffix);
        PackFiles::copyFile(plan.launcher, exe);
        if (options.target->windows) {
            applyWindowsResources(exe, options.name, options.resources);
            Signing::sign(options, exe);
        }
        for (std::size_t i = 0; i < options.desktop.launchers.size(); ++i) {
            const tstring& name = options.desktop.launchers[i].name;
            const tstring extra = FileUtils::joinPath(root, name + options.target->exeSuffix);
            PackFiles::copyFile(plan.extraLaunchers[i], extra);
            if (options.target->windows) {
                applyWindowsResources(extra, name, options.resources);
                Signing::sign(options, extra);
            }
        }
    }

    // Modes from the input, a runtime or the umask: no image lets others change it or runs
    // as someone else.
    void finishImage(const tstring& root) const {
        PackFiles::removeUnsafeModes(root);
        PackHost::checkNotStopped();
    }

private:
    void step(const tstring& text) const {
        PackHost::checkNotStopped();
        if (!options.quiet) {
            writeOut(text);
        }
    }

    void summarize(const tstring& image) const {
        const std::uint64_t runtimeSize =
            PackFiles::treeSize(FileUtils::joinPath(image, L"runtime"));
        step(tstrings::format(L"Packed %ls (runtime %.1f MiB)", image.c_str(),
                              static_cast<double>(runtimeSize) / (1 << 20)));
    }

    tstring inInput(const tstring& relativePath) const {
        return FileUtils::joinPath(plan.input, relativePath);
    }

    tstring_array inInput(const tstring_array& relativePaths) const {
        tstring_array result;
        for (const tstring& path : relativePaths) {
            result.push_back(inInput(path));
        }
        return result;
    }

    void makeRuntime(const tstring& runtimeDir) const {
        if (!options.runtime.empty()) {
            step(L"Copying the runtime " + options.runtime);
            // Runtimes as installed may hold links to what is not installed (a JDK's
            // lib/src.zip): nothing the image can use.
            tstring_array danglingLinks;
            PackFiles::copyTree(options.runtime, runtimeDir, &danglingLinks);
            for (const tstring& link : danglingLinks) {
                step(L"Skipped the symbolic link " + link + L", which leads nowhere");
            }
            return;
        }
        const tstring modules = RuntimeLinker::joinModules(modulesToLink());
        step(L"Linking the runtime with jlink, modules " + modules);
        RuntimeLinker::link(plan.jdk, modules, options.jmods, runtimeDir, tstring_array());
        checkRuntime(runtimeDir, *options.target, L"the linked runtime");
    }

    // The start-up archive is on unless "--no-cds": the runtime gets its base archive, and one
    // line says why there can be none when "--cds" asked for it.
    void completeBaseArchive(const tstring& runtimeDir) const {
        if (!options.cds) {
            return;
        }
        const tstring missing = RuntimeArchive::complete(runtimeDir, *options.target);
        if (!missing.empty() && options.cdsAsked) {
            writeErr("vantrel-pack: warning: --cds does nothing: " + tstrings::toUtf8(missing));
        }
    }

    tstring_array modulesToLink() const {
        if (!options.addModules.empty()) {
            return RuntimeLinker::splitModules(options.addModules);
        }
        step(L"Finding the modules the application needs with jdeps");
        const tstring_array found = RuntimeLinker::modulesFound(
            plan.jdk, classPathFiles(), inInput(options.modulePath), options.mainModule);
        std::set<tstring> modules(found.begin(), found.end());
        if (!options.noProviderModules) {
            for (const tstring& module : RuntimeLinker::providerModules(plan.jdk, options.jmods)) {
                modules.insert(module);
            }
        }
        for (const tstring& module : RuntimeLinker::splitModules(options.extraModules)) {
            modules.insert(module);
        }
        return tstring_array(modules.begin(), modules.end());
    }

    // Everything the runtime loads classes from, as it finds them.
    tstring_array classPathFiles() const {
        tstring_array files;
        if (!options.mainJar.empty()) {
            files.push_back(inInput(options.mainJar));
        }
        const tstring_array entries = inInput(options.classPath);
        files.insert(files.end(), entries.begin(), entries.end());
        return ClassPathFiles::withManifestClassPaths(plan.input, files);
    }

    void writeConfiguration(const tstring& appDir) const {
        PackFiles::writeFile(FileUtils::joinPath(appDir, options.name + L".cfg"),
                             makeCfgText(options, plan.mainClass));
        for (const ExtraLauncher& launcher : options.desktop.launchers) {
            PackFiles::writeFile(FileUtils::joinPath(appDir, launcher.name + L".cfg"),
                                 makeExtraCfgText(options, launcher));
        }
        if (!options.packageName.empty()) {
            PackFiles::writeFile(FileUtils::joinPath(appDir, L".package"),
                                 tstrings::toUtf8(options.packageName) + "\n");
        }
    }

    const PackPlan& plan;
    const PackOptions& options;
};

[[noreturn]] void raiseMissing(const wchar_t* what, const tstring& path) {
    VT_RAISE(tstrings::TextBuilder() << what << L" does not exist: " << path);
}

// what: "the input", named "the input directory" when it does not exist.
void checkDirectory(const tstring& what, const tstring& path) {
    if (!PackFiles::exists(path)) {
        raiseMissing((what + L" directory").c_str(), path);
    }
    if (!PackFiles::isDirectory(path)) {
        VT_RAISE(tstrings::TextBuilder() << what << L" " << path << L" is not a directory");
    }
}

void checkInputHolds(const tstring& input, const wchar_t* what, const tstring_array& paths) {
    for (const tstring& path : paths) {
        if (!PackFiles::exists(FileUtils::joinPath(input, path))) {
            VT_RAISE(tstrings::TextBuilder()
                     << what << L" " << path << L" is not in the input " << input);
        }
    }
}

// The image's own files in app/ must not replace the application's.
void checkNoClash(const PackOptions& options, const tstring& input) {
    tstring_array own = {options.name + L".cfg"};
    for (const ExtraLauncher& launcher : options.desktop.launchers) {
        own.push_back(launcher.name + L".cfg");
    }
    if (!options.packageName.empty()) {
        own.push_back(L".package");
    }
    for (const tstring& name : own) {
        if (PackFiles::exists(FileUtils::joinPath(input, name))) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"the input already holds " << name << L", which the image writes itself");
        }
        const tstring twin =
            options.target->windows ? InputNames::windowsTwin(input, name) : tstring();
        if (!twin.empty()) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"the input already holds " << twin << L", which Windows takes for " << name
                     << L", a file the image writes itself");
        }
    }
}

tstring findLauncher(const PackOptions& options, const tstring& toolPath) {
    if (!options.launcher.empty()) {
        if (!PackFiles::isFile(options.launcher)) {
            raiseMissing(L"the launcher", options.launcher);
        }
        return options.launcher;
    }
    const tstring launcher = PackTool::installedLauncher(toolPath, *options.target);
    if (!PackFiles::isFile(launcher)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the " << options.target->name << L" launcher is not installed: " << launcher
                 << L" is missing (give --launcher FILE)");
    }
    return launcher;
}

// A Windows launcher of the other kind than the target's is the installed one, or the file of
// that kind beside --launcher.
tstring findExtraLauncher(const PackOptions& options, const tstring& toolPath,
                          const tstring& mainLauncher, bool gui) {
    const PackTarget& main = *options.target;
    if (!main.windows || gui == (&main == &PackTargets::windowsGui64)) {
        return mainLauncher;
    }
    const PackTarget& kind = gui ? PackTargets::windowsGui64 : PackTargets::windows64;
    const tstring launcher =
        options.launcher.empty()
            ? PackTool::installedLauncher(toolPath, kind)
            : FileUtils::joinPath(FileUtils::parentPath(options.launcher), kind.launcherFile);
    if (!PackFiles::isFile(launcher)) {
        VT_RAISE(tstrings::TextBuilder() << L"the " << kind.name << L" launcher for --add-launcher "
                                         << L"is missing: " << launcher);
    }
    return launcher;
}

tstring findJdkFor(const PackOptions& options) {
    const PackTarget& host = PackHost::defaultTarget();
    if (!options.target->runsWhere(host) && options.jmods.empty()) {
        const bool otherSystem = options.target->windows != host.windows;
        VT_RAISE(tstrings::TextBuilder()
                 << L"linking a "
                 << (otherSystem ? (options.target->windows ? L"Windows" : L"Linux")
                                 : options.target->launcherDir)
                 << L" runtime on "
                 << (otherSystem ? (host.windows ? L"Windows" : L"Linux") : host.launcherDir)
                 << L" needs --jmods DIR (the jmods of that platform's JDK), or give --runtime");
    }
    if (!options.jmods.empty()) {
        checkDirectory(L"the jmods", options.jmods);
        RuntimeLinker::checkJmods(options.jmods, options.target->runtimeLibrary(),
                                  options.target->elfMachine);
    }
    const tstring jdk = RuntimeLinker::findJdk(options.jlinkFrom);
    checkDirectory(L"the JDK", jdk);
    RuntimeLinker::jdkTool(jdk, L"jlink");
    if (options.addModules.empty()) {
        RuntimeLinker::jdkTool(jdk, L"jdeps");
    }
    return jdk;
}

tstring findMainClass(const PackOptions& options, const tstring& input) {
    if (!options.mainModule.empty() || !options.mainClass.empty()) {
        return options.mainClass;
    }
    const tstring mainClass =
        JarManifest::readMainClass(FileUtils::joinPath(input, options.mainJar));
    if (mainClass.empty()) {
        VT_RAISE(tstrings::TextBuilder() << L"the main jar " << options.mainJar
                                         << L" names no Main-Class: give --main-class");
    }
    return mainClass;
}

// The input holds what the options name in it, and nothing that the image writes itself.
tstring checkInput(const PackOptions& options) {
    checkDirectory(L"the input", options.input);
    const tstring input = PackFiles::normalPath(options.input);
    if (!options.mainJar.empty() &&
        !PackFiles::isFile(FileUtils::joinPath(input, options.mainJar))) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the main jar " << options.mainJar << L" is not in the input " << input);
    }
    tstring_array plainEntries;
    std::copy_if(options.classPath.begin(), options.classPath.end(),
                 std::back_inserter(plainEntries),
                 [](const tstring& entry) { return !ClassPathFiles::isWildcard(entry); });
    checkInputHolds(input, L"the class path entry", plainEntries);
    checkInputHolds(input, L"the module path entry", options.modulePath);
    if (!options.splash.empty()) {
        checkInputHolds(input, L"the splash screen image", {options.splash});
    }
    checkNoClash(options, input);
    return input;
}

// Copying the input into a destination inside it would never end.
tstring checkDestination(const PackOptions& options, const tstring& input) {
    const tstring dest = PackFiles::normalPath(options.dest);
    if (PackFiles::isWithin(dest, input)) {
        VT_RAISE("the destination must not lie inside the input");
    }
    if (options.package.type == PackageType::Image) {
        StagingImage::checkTarget(FileUtils::joinPath(dest, options.name), existingTarget(options));
        return dest;
    }
    const tstring output = FileUtils::joinPath(dest, PackageNames::outputName(options));
    if (PackFiles::exists(output)) {
        VT_RAISE(tstrings::TextBuilder() << output << L" already exists");
    }
    return dest;
}

PackPlan makePlan(const PackOptions& options, const tstring& toolPath) {
    Packages::check(options);
    PackPlan plan;
    plan.options = options;
    plan.input = checkInput(options);
    InputNames::check(plan.input, options);
    // The configuration gets the jars that the wildcards find now, in a fixed order: the
    // runtime's own expansion takes them in the order the folder lists them, which differs
    // between file systems, and a class path order decides which of two classes wins.
    plan.options.classPath =
        ClassPathFiles::expand(plan.input, options.classPath, options.mainJar, plan.emptyWildcards);
    plan.options.dest = checkDestination(options, plan.input);
    ReleaseSite::check(options);
    plan.launcher = findLauncher(options, toolPath);
    if (options.target->windows) {
        checkWindowsResources(plan.launcher, options.name, options.resources);
    }
    for (const ExtraLauncher& extra : options.desktop.launchers) {
        plan.extraLaunchers.push_back(
            findExtraLauncher(options, toolPath, plan.launcher, extra.gui));
        if (options.target->windows) {
            checkWindowsResources(plan.extraLaunchers.back(), extra.name, options.resources);
        }
    }
    if (options.runtime.empty()) {
        plan.jdk = findJdkFor(options);
    } else {
        checkDirectory(L"the runtime", options.runtime);
        checkRuntime(options.runtime, *options.target, L"the runtime " + options.runtime);
    }
    plan.mainClass = findMainClass(options, plan.input);
    plan.options.package.updatePublicKey = UpdateSite::publicKey(options);
    return plan;
}

int reportUsageError(const std::string& message, bool withUsage) {
    writeErr("vantrel-pack: " + message);
    if (!withUsage) {
        return 2;
    }
    writeErr(packUsageLine);
    writeErr("Try 'vantrel-pack --help' for more information.");
    return 2;
}

int runCommand(const tstring_array& args, const tstring& toolPath) {
    const PackCommand command =
        parsePackCommand(OptionFiles::expand(args), PackHost::defaultTarget());
    if (command.action == PackCommand::Help) {
        std::fputs(packHelpText().c_str(), stdout);
    } else if (command.action == PackCommand::Version) {
        std::fputs("vantrel-pack " VANTREL_VERSION "\n", stdout);
    } else {
        Packer(makePlan(command.options, toolPath)).pack();
    }
    return 0;
}

} // namespace

namespace PackTool {

tstring installedLauncher(const tstring& toolPath, const PackTarget& target) {
    return FileUtils::PathBuilder()
           << FileUtils::parentPath(FileUtils::parentPath(toolPath)) << L"share" << L"vantrel"
           << L"launchers" << target.launcherDir << target.launcherFile;
}

int run(const tstring_array& args, const tstring& toolPath) {
    // Not logged: the tool speaks only through its own lines.
    return app::runReporting(
        nullptr,
        [&] {
            try {
                return runCommand(args, toolPath);
            } catch (const VtError<UsageError>& error) {
                return reportUsageError(error.bareMessage(), error.withUsage);
            }
        },
        [](const std::exception& error) { return std::string(error.what()); },
        [](const std::string& text) { writeErr("vantrel-pack: " + text); });
}

} // namespace PackTool
