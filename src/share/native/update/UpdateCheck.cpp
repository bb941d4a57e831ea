#include "UpdateCheck.h"

#include <memory>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "UpdatePlatform.h"
#include "UserCache.h"

namespace UpdateCheck {

namespace {

const wchar_t* const tracePrefix = L"Update: ";

// Bounds of what a site may send and take: metadata is a few hundred bytes.
const std::uint64_t maxMetadataBytes = 64 * 1024;
const std::uint64_t maxPackageBytes = 4ull << 30;
const unsigned receiveMs = 20 * 1000;
const unsigned metadataTotalMs = 60 * 1000;
const unsigned packageTotalMs = 30 * 60 * 1000;
// A check ends then, whatever it waits for; an installation, that long after the start ended.
const unsigned checkTimeLimit = 40 * 60;
const unsigned installTimeLimit = 60 * 60;
// Room left beside a download.
const std::uint64_t minFreeBytes = 64ull << 20;

const std::int64_t secondNs = 1000000000;
const std::int64_t dayNs = 24 * 3600 * secondNs;

tstring traceText(const std::exception& error) {
    const auto* own = dynamic_cast<const VtErrorBase*>(&error);
    return tstrings::fromUtf8(own ? own->bareMessage() : error.what());
}

// "windows/NAME/" of "windows/NAME/update-msi.txt".
tstring folderOf(const tstring& path) {
    const std::size_t slash = path.rfind(L'/');
    return slash == tstring::npos ? tstring() : path.substr(0, slash + 1);
}

int hexDigit(wchar_t c) {
    return c >= L'0' && c <= L'9'   ? c - L'0'
           : c >= L'a' && c <= L'f' ? c - L'a' + 10
           : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                    : -1;
}

// The UTF-8 text of a percent-encoded URL segment; empty when it is malformed.
tstring percentDecoded(const tstring& segment) {
    std::string bytes;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != L'%') {
            if (segment[i] > 0x7f) {
                return tstring();
            }
            bytes += static_cast<char>(segment[i]);
        } else if (i + 2 < segment.size() && hexDigit(segment[i + 1]) >= 0 &&
                   hexDigit(segment[i + 2]) >= 0) {
            bytes += static_cast<char>(hexDigit(segment[i + 1]) * 16 + hexDigit(segment[i + 2]));
            i += 2;
        } else {
            return tstring();
        }
    }
    return tstrings::fromUtf8(bytes);
}

// A path below the site that stays there: no scheme, no way up, nothing but the path.
bool isSitePath(const tstring& path) {
    return !path.empty() && path[0] != L'/' && path.find_first_of(L"\\?#:") == tstring::npos &&
           (L"/" + path + L"/").find(L"/../") == tstring::npos &&
           (L"/" + path + L"/").find(L"/./") == tstring::npos;
}

// Each line of the trace, also at the end of a file.
class FileLogAppender : public LogAppender {
public:
    explicit FileLogAppender(const tstring& path) : path(path) {}
    void append(const LogEvent& event) override {
        UserCache::writeFile(path,
                             tstrings::toUtf8((tstrings::TextBuilder()
                                               << L"[" << event.level << L"] " << event.file << L":"
                                               << event.line << L": " << event.message)
                                                  .text()) +
                                 "\n",
                             true);
    }

private:
    tstring path;
};

// While it lives, the trace of a background process also goes to a file of the folder, when
// the trace is on: the process has no standard streams.
class TraceFile {
public:
    explicit TraceFile(const UpdateCache::Folder& folder) : appender(folder.trace()) {
        if (!Logger::getDefault().isEnabled(Logger::LOG_TRACE)) {
            return;
        }
        UserCache::FileStamp stamp;
        if (UserCache::stamp(folder.trace(), stamp) && stamp.size > (1u << 20)) {
            UserCache::removeFile(folder.trace());
        }
        extra.reset(new WithExtraLogAppender(appender));
    }

private:
    FileLogAppender appender;
    std::unique_ptr<WithExtraLogAppender> extra;
};

void download(const Settings& settings, const UpdateMetadata::Document& document,
              const UpdateCache::Folder& folder) {
    const tstring url = settings.url + document.url;
    const tstring part = folder.downloading();
    const std::uint64_t room = UserCache::freeBytes(FileUtils::parentPath(part));
    if (room < document.size + minFreeBytes) {
        VT_RAISE(tstrings::TextBuilder() << L"only " << room << L" bytes free for " << url);
    }
    LOG_TRACE(tracePrefix << L"downloading " << url << L" to " << part);
    UpdatePlatform::HttpLimits limits;
    limits.maxBytes = document.size;
    limits.receiveMs = receiveMs;
    limits.totalMs = packageTotalMs;
    UpdatePlatform::httpGet(url, limits, part);
    UserCache::FileStamp stamp;
    if (!UserCache::stamp(part, stamp) || stamp.size != document.size) {
        VT_RAISE(tstrings::TextBuilder() << url << L" is " << stamp.size << L" bytes, not the "
                                         << document.size << L" of the metadata");
    }
    if (UpdateMetadata::hex(UpdatePlatform::sha256OfFile(part)) != document.sha256) {
        VT_RAISE(tstrings::TextBuilder()
                 << url << L" is not the package of the metadata: its " << L"SHA-256 differs");
    }
    if (!UserCache::replaceFile(part, folder.package())) {
        VT_RAISE(tstrings::TextBuilder() << L"can't move " << part << L" into place");
    }
}

// The launcher's copy runs the installation: the installer may replace the launcher itself.
void startInstallation(const Setup& setup, const UpdateCache::Folder& folder,
                       const tstring& version) {
    // A copy still waiting for an earlier start is busy, and as good.
    if (!UserCache::copyFile(setup.launcherPath, folder.installer()) &&
        !FileUtils::pathExists(folder.installer())) {
        VT_RAISE(tstrings::TextBuilder() << L"can't copy the launcher to " << folder.installer());
    }
    UserCache::startInBackground(folder.installer(), roleVar,
                                 L"install:" + std::to_wstring(setup.processId));
    LOG_TRACE(tracePrefix << L"installing " << version << L" once process " << setup.processId
                          << L" has ended");
}

// The options of a ready update, and what becomes of it.
tstring_array readyOptions(const Settings& settings, const Setup& setup,
                           const UpdateCache::Folder& folder) {
    UpdateMetadata::Document ready;
    if (!folder.readReady(ready)) {
        return tstring_array();
    }
    UpdateMetadata::VersionOrder order{};
    if (!UpdateMetadata::parseOrder(ready.order, order) || order <= settings.order) {
        LOG_TRACE(tracePrefix << L"removing " << ready.version << L", not newer than the running "
                              << settings.version);
        folder.dropReady();
        return tstring_array();
    }
    UserCache::FileStamp stamp;
    if (!UserCache::stamp(folder.package(), stamp) || stamp.size != ready.size) {
        LOG_TRACE(tracePrefix << L"removing " << ready.version << L", its package is incomplete");
        folder.dropReady();
        return tstring_array();
    }
    LOG_TRACE(tracePrefix << ready.version << L" is ready: " << folder.package());
    const tstring_array options = {L"-Dvantrel.update.ready=" + ready.version,
                                   L"-Dvantrel.update.file=" + folder.package()};
    UpdateCache::State state = folder.readState();
    if (settings.mode == L"auto") {
        startInstallation(setup, folder, ready.version);
    } else if (!setup.canAsk) {
        LOG_TRACE(tracePrefix << L"not asking: the console launcher never asks");
    } else if (state.asked == ready.version) {
        LOG_TRACE(tracePrefix << L"not asking again for " << ready.version);
    } else {
        // Remembered first: a start that dies while it asks doesn't ask again.
        state.asked = ready.version;
        folder.writeState(state);
        const tstring text = (tstrings::TextBuilder()
                              << setup.appName << L" " << ready.version
                              << L" is ready. Install it when " << setup.appName << L" ends?")
                                 .text();
        LOG_TRACE(tracePrefix << L"asking \"" << text << L"\"");
        if (UpdatePlatform::ask(setup.appName, text)) {
            startInstallation(setup, folder, ready.version);
        } else {
            LOG_TRACE(tracePrefix << L"not installing " << ready.version << L": not asked to");
        }
    }
    return options;
}

} // namespace

const wchar_t* const roleVar = L"VANTREL_UPDATE";

Settings settingsOf(const std::function<tstring(const tstring&)>& value) {
    Settings result;
    result.url = value(L"url");
    result.metadata = value(L"metadata");
    result.key = UpdateMetadata::unhex(tstrings::toUtf8(value(L"key")));
    result.check = value(L"check");
    result.mode = value(L"mode");
    result.version = value(L"version");
    const bool loopback = tstrings::startsWith(result.url, L"http://127.0.0.1") ||
                          tstrings::startsWith(result.url, L"http://localhost");
    const char* wrong = nullptr;
    if (!(tstrings::startsWith(result.url, L"https://") || loopback) ||
        !tstrings::endsWith(result.url, L"/")) {
        wrong = "url";
    } else if (!isSitePath(result.metadata)) {
        wrong = "metadata";
    } else if (result.key.size() != 64) {
        wrong = "key";
    } else if (result.check != L"every-start" && result.check != L"daily" &&
               result.check != L"weekly" && result.check != L"never") {
        wrong = "check";
    } else if (result.mode != L"auto" && result.mode != L"ask") {
        wrong = "mode";
    } else if (!UpdateMetadata::parseOrder(value(L"order"), result.order) ||
               result.version.empty()) {
        wrong = "order";
    }
    if (wrong) {
        VT_RAISE(tstrings::TextBuilder()
                 << L"the configuration's " << wrong << L"=\"" << value(tstrings::fromUtf8(wrong))
                 << L"\" is not usable");
    }
    return result;
}

bool checkDue(const tstring& check, std::int64_t lastCheck, std::int64_t now) {
    const std::int64_t since = now - lastCheck;
    // A clock that went back makes every check due once.
    return check == L"every-start" || (check == L"daily" && (since >= dayNs || since < 0)) ||
           (check == L"weekly" && (since >= 7 * dayNs || since < 0));
}

tstring refusal(const UpdateMetadata::Document& document, const Settings& settings,
                const UpdateCache::State& state) {
    const tstring folder = folderOf(settings.metadata);
    const tstring name =
        percentDecoded(FileUtils::lastComponent(folder.substr(0, folder.size() - 1)));
    UpdateMetadata::VersionOrder order{};
    tstrings::TextBuilder why;
    if (document.type != L"msi") {
        why << L"it is for a " << document.type << L" package";
    } else if (name.empty() || document.name != name) {
        why << L"it is the metadata of " << document.name << L", not of " << name;
    } else if (!isSitePath(document.url) || !tstrings::startsWith(document.url, folder)) {
        why << L"its package " << document.url << L" is outside " << folder;
    } else if (document.sequence < state.sequence) {
        why << L"its sequence " << document.sequence << L" is older than " << state.sequence
            << L", seen before";
    } else if (!UpdateMetadata::parseOrder(document.order, order)) {
        why << L"its order " << document.order << L" is not four numbers";
    } else if (order <= settings.order) {
        why << document.version << L" is not newer than the running " << settings.version;
    } else if (document.size == 0 || document.size > maxPackageBytes) {
        why << L"its package's size " << document.size << L" is out of bounds";
    } else if (document.sha256.size() != 64 || UpdateMetadata::unhex(document.sha256).empty()) {
        why << L"its SHA-256 is not 64 hex digits";
    }
    return why.text();
}

tstring_array atStart(const Settings& settings, const Setup& setup) {
    try {
        if (settings.check == L"never") {
            LOG_TRACE(tracePrefix << L"none, check=never");
            return tstring_array();
        }
        const UpdateCache::Folder folder(setup.dir);
        const tstring_array options = readyOptions(settings, setup, folder);
        const UpdateCache::State state = folder.readState();
        if (checkDue(settings.check, state.checked, setup.now)) {
            UserCache::startInBackground(setup.launcherPath, roleVar, L"check");
            LOG_TRACE(tracePrefix << L"checking " << settings.url << settings.metadata
                                  << L" in the background (check=" << settings.check << L")");
        } else {
            LOG_TRACE(tracePrefix << L"no check, the last one was "
                                  << (setup.now - state.checked) / secondNs << L" s ago (check="
                                  << settings.check << L")");
        }
        return options;
    } catch (const std::exception& error) {
        LOG_TRACE(tracePrefix << L"none, " << traceText(error));
        return tstring_array();
    }
}

void check(const Settings& settings, const Setup& setup) {
    const UpdateCache::Folder folder(setup.dir);
    const TraceFile trace(folder);
    try {
        UserCache::endAfter(checkTimeLimit);
        const UserCache::FileLock lock = UserCache::FileLock::take(folder.lock(), false);
        if (!lock) {
            LOG_TRACE(tracePrefix << L"no check, another check or installation runs");
            return;
        }
        folder.tidy();
        UpdateCache::State state = folder.readState();
        state.checked = setup.now;
        folder.writeState(state);

        const tstring url = settings.url + settings.metadata;
        UpdatePlatform::HttpLimits limits;
        limits.maxBytes = maxMetadataBytes;
        limits.receiveMs = receiveMs;
        limits.totalMs = metadataTotalMs;
        const std::string text = UpdatePlatform::httpGet(url, limits, tstring());
        const UpdateMetadata::Signed found = UpdateMetadata::parse(text, url);
        if (!UpdatePlatform::verifySignature(settings.key, found.signedPart, found.rawSignature)) {
            VT_RAISE(tstrings::TextBuilder() << url << L" is not signed with the configured key");
        }
        const UpdateMetadata::Document& document = found.document;
        const tstring why = refusal(document, settings, state);
        if (!why.empty()) {
            VT_RAISE(tstrings::TextBuilder() << url << L" is not taken: " << why);
        }
        state.sequence = document.sequence;
        folder.writeState(state);
        UpdateMetadata::Document ready;
        if (folder.readReady(ready) && ready.sha256 == document.sha256) {
            LOG_TRACE(tracePrefix << document.version << L" is ready already");
            return;
        }
        folder.dropReady();
        download(settings, document, folder);
        folder.writeReady(text);
        LOG_TRACE(tracePrefix << document.version << L" downloaded and verified: "
                              << folder.package());
    } catch (const std::exception& error) {
        UserCache::removeFile(folder.downloading());
        LOG_TRACE(tracePrefix << L"check failed, " << traceText(error));
    }
}

void install(const tstring& dir, std::uint64_t startProcess) {
    const UpdateCache::Folder folder(dir);
    const TraceFile trace(folder);
    try {
        UpdatePlatform::waitForProcess(startProcess);
        UserCache::endAfter(installTimeLimit);
        const UserCache::FileLock lock = UserCache::FileLock::take(folder.lock(), true);
        UpdateMetadata::Document ready;
        if (!folder.readReady(ready)) {
            LOG_TRACE(tracePrefix << L"nothing to install");
            return;
        }
        // The package was checked when it came; it is checked again before it runs.
        UserCache::FileStamp stamp;
        if (!UserCache::stamp(folder.package(), stamp) || stamp.size != ready.size ||
            UpdateMetadata::hex(UpdatePlatform::sha256OfFile(folder.package())) != ready.sha256) {
            folder.dropReady();
            VT_RAISE(tstrings::TextBuilder()
                     << folder.package() << L" is not the package of " << ready.version);
        }
        LOG_TRACE(tracePrefix << L"installing " << ready.version << L" from " << folder.package());
        const std::uint32_t code = UpdatePlatform::runInstaller(folder.package());
        LOG_TRACE(tracePrefix << L"the installer of " << ready.version << L" ended with " << code);
        folder.dropReady();
    } catch (const std::exception& error) {
        LOG_TRACE(tracePrefix << L"installation failed, " << traceText(error));
    }
}

} // namespace UpdateCheck
