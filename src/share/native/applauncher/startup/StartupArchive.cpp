#include "StartupArchive.h"

#include <cstdlib>
#include <utility>

#include "ArchiveCache.h"
#include "ArchiveKey.h"
#include "ArchiveOptions.h"
#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "RuntimeRelease.h"
#include "StaticArchive.h"
#include "UserCache.h"

namespace StartupArchive {

namespace {

// A runtime that runs out of room while it writes fails only its own process, but an archive
// needs some: make none without ample room.
const std::uint64_t minFreeBytes = 256ull << 20;

// Recordings that left no class list, and creations that left no archive: a runtime that
// fails every time costs this many tries of a key, then none.
const std::uint64_t maxAttempts = 3;

// An archive in use is marked so once a day: the least used ones go first.
const std::int64_t markUsedAfterNs = 24ll * 3600 * 1000000000;

const wchar_t* const tracePrefix = L"Class-data archive: ";

void append(tstring_array& to, const tstring_array& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// What every decision of one start works with.
struct Start {
    const CfgFile& cfg;
    const Setup& setup;
    int version;
    tstring_array options;
    ArchiveCache::KeyFiles files;

    Plan planFor(tstring_array archiveOptions) const {
        Plan result;
        result.options = std::move(archiveOptions);
        result.dir = files.dir();
        result.appName = setup.appName;
        result.key = key;
        result.launcherPath = setup.launcherPath;
        return result;
    }

    bool hasRoom() const {
        const std::uint64_t room = UserCache::freeBytes(files.dir());
        if (room < minFreeBytes) {
            LOG_TRACE(tracePrefix << L"none, only " << room << L" bytes free in " << files.dir());
        }
        return room >= minFreeBytes;
    }

    tstring key;
};

Plan usePlan(const Start& start, const tstring& archive) {
    UserCache::FileStamp stamp;
    if (UserCache::stamp(archive, stamp) && start.setup.now - stamp.modified > markUsedAfterNs) {
        UserCache::touch(archive);
    }
    LOG_TRACE(tracePrefix << L"use " << archive);
    Plan result;
    result.options = StaticArchive::useOptions(archive, start.version);
    append(result.options, propertyValues(start.cfg.section(SectionName::AppCDSJavaOptions),
                                          PropertyName::javaOptions));
    return result;
}

// With the key's lock: a class list makes an archive out of the start's way, else this start
// records one.
Plan recordOrCreatePlan(const Start& start, UserCache::FileLock& lock) {
    const ArchiveCache::KeyFiles& files = start.files;
    const tstring classList = files.classList();
    if (FileUtils::pathExists(classList)) {
        const std::uint64_t tried = files.attempts(ArchiveCache::KeyFiles::created);
        if (tried >= maxAttempts) {
            LOG_TRACE(tracePrefix << L"none, made from " << classList << L" and failed " << tried
                                  << L" times");
            return Plan();
        }
        // Released first: the creation waits for it, and no process of its making may hold it.
        lock = UserCache::FileLock();
        UserCache::startInBackground(start.setup.launcherPath, creationVar);
        LOG_TRACE(tracePrefix << L"none, making it in the background from " << classList);
        return Plan();
    }
    const std::uint64_t tried = files.attempts(ArchiveCache::KeyFiles::recorded);
    if (tried >= maxAttempts) {
        LOG_TRACE(tracePrefix << L"none, " << tried << L" starts recorded no class list for "
                              << classList);
        return Plan();
    }
    if (!start.hasRoom()) {
        return Plan();
    }
    files.countAttempt(ArchiveCache::KeyFiles::recorded);
    const tstring recording = files.recording();
    LOG_TRACE(tracePrefix << L"record " << recording);
    Plan result = start.planFor(StaticArchive::recordOptions(recording, start.version));
    result.recording = recording;
    result.lock = std::move(lock);
    return result;
}

// Where the creation takes the application's classes from, as the start does.
tstring_array classPathOptions(const CfgFile& cfg) {
    tstring_array options;
    for (const tstring& value :
         propertyValues(cfg.section(SectionName::Application), PropertyName::modulepath)) {
        options.insert(options.end(), {L"--module-path", value});
    }
    const tstring_array mainJar =
        propertyValues(cfg.section(SectionName::Application), PropertyName::mainjar);
    const CfgProperty* classPath =
        findProperty(cfg.section(SectionName::Application), PropertyName::classpath);
    if (!mainJar.empty()) {
        options.insert(options.end(), {L"-classpath", mainJar.back()});
    } else if (classPath) {
        options.insert(options.end(), {L"-classpath", CfgFile::joinedValues(*classPath)});
    }
    const tstring_array mainModule =
        propertyValues(cfg.section(SectionName::Application), PropertyName::mainmodule);
    if (!mainModule.empty()) {
        options.insert(options.end(), {L"-m", mainModule.back()});
    }
    return options;
}

// The background process: the runtime makes the archive from the class list and ends; the
// application never runs. It waits for the start that recorded the list to end.
Plan creationPlan(const Start& start) {
    const ArchiveCache::KeyFiles& files = start.files;
    UserCache::FileLock lock = UserCache::FileLock::take(files.lock(), true);
    const tstring archive = files.finishLeftWork();
    const tstring classList = files.classList();
    if (!archive.empty()) {
        VT_RAISE(tstrings::TextBuilder() << L"the archive " << archive << L" is made already");
    }
    if (!FileUtils::pathExists(classList)) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"no class list to make an archive from at " << classList);
    }
    if (files.attempts(ArchiveCache::KeyFiles::created) >= maxAttempts || !start.hasRoom()) {
        VT_RAISE(tstrings::TextBuilder() << L"no more tries to make an archive from " << classList);
    }
    files.countAttempt(ArchiveCache::KeyFiles::created);
    const tstring written = files.creating();
    LOG_TRACE(tracePrefix << L"create " << written << L" from " << classList);
    Plan result = start.planFor(StaticArchive::createOptions(classList, written, start.version));
    append(result.options, ArchiveOptions::forCreation(
                               ArchiveOptions::ofStarts(start.cfg, start.setup.envOptions)));
    append(result.options,
           propertyValues(start.cfg.section(SectionName::AppCDSGenerateCacheJavaOptions),
                          PropertyName::javaOptions));
    append(result.options, classPathOptions(start.cfg));
    result.creation = true;
    result.written = written;
    result.lock = std::move(lock);
    return result;
}

Plan autoPlan(const CfgFile& cfg, const Setup& setup) {
    const std::string release = RuntimeRelease::read(setup.runtimeDir);
    const int version = RuntimeRelease::featureVersion(release);
    if (version < StaticArchive::firstVersion) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the runtime in " << setup.runtimeDir << L" is not Java "
                 << StaticArchive::firstVersion << L" or later");
    }
    const tstring_array options = ArchiveOptions::all(cfg, setup.envOptions);
    const tstring reason = ArchiveOptions::reasonForNone(options);
    if (!reason.empty()) {
        VT_RAISE(tstrings::TextBuilder() << reason);
    }
    const ArchiveKey key =
        ArchiveKey::of(cfg, {release, setup.jvmLibPath, setup.launcherPath, options});
    if (!key.classFolder.empty()) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the runtime can't archive the folder of classes " << key.classFolder);
    }
    const tstring dir = ArchiveCache::folder(
        setup.cacheBase, setup.packageName.empty() ? setup.appName : setup.packageName);
    Start start{cfg,
                setup,
                version,
                options,
                ArchiveCache::KeyFiles(dir, setup.appName, key.hash, setup.processId),
                key.hash};
    const tstring archive = start.files.tidy(setup.now);
    if (setup.creation) {
        return creationPlan(start);
    }
    if (!archive.empty()) {
        return usePlan(start, archive);
    }
    UserCache::FileLock lock = UserCache::FileLock::take(start.files.lock(), false);
    if (!lock) {
        LOG_TRACE(tracePrefix << L"none, another start records or makes it (" << start.files.lock()
                              << L")");
        return Plan();
    }
    const tstring left = start.files.finishLeftWork();
    return left.empty() ? recordOrCreatePlan(start, lock) : usePlan(start, left);
}

Plan& keptPlan() {
    static Plan plan;
    return plan;
}

void finishKeptPlan() {
    finish(keptPlan());
}

} // namespace

const wchar_t* const creationVar = L"VANTREL_CDS_CREATE";
const wchar_t* const optionVars[2] = {L"JAVA_TOOL_OPTIONS", L"_JAVA_OPTIONS"};

Plan plan(const CfgFile& cfg, const Setup& setup) {
    const CfgProperty* mode =
        findProperty(cfg.section(SectionName::Application), PropertyName::cds);
    if (!mode) {
        return Plan();
    }
    if (CfgFile::lastValue(*mode) != L"auto") {
        LOG_TRACE(tracePrefix << L"none, " << PropertyName::cds.name() << L"="
                              << CfgFile::lastValue(*mode));
        return Plan();
    }
    try {
        return autoPlan(cfg, setup);
    } catch (const std::exception& error) {
        const auto* own = dynamic_cast<const VtErrorBase*>(&error);
        LOG_TRACE(tracePrefix << L"none, "
                              << tstrings::fromUtf8(own ? own->bareMessage() : error.what()));
        return Plan();
    }
}

void finish(Plan& plan) {
    if (plan.dir.empty()) {
        return;
    }
    try {
        const ArchiveCache::KeyFiles files(plan.dir, plan.appName, plan.key, 0);
        if (plan.creation) {
            files.publishArchive(plan.written);
        } else if (!plan.recording.empty() && files.adoptClassList(plan.recording)) {
            plan.lock = UserCache::FileLock();
            UserCache::startInBackground(plan.launcherPath, creationVar);
        }
    } catch (const std::exception&) {
        // What is left, the next start finishes.
    }
}

void keepForExit(Plan plan) {
    keptPlan() = std::move(plan);
}

void finishAtExit() {
    static bool registered = false;
    if (!registered && !keptPlan().dir.empty()) {
        registered = std::atexit(finishKeptPlan) == 0;
    }
}

} // namespace StartupArchive
