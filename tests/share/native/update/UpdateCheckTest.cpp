#include <gtest/gtest.h>

#include <map>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "TestSupport.h"
#include "UpdateCheck.h"
#include "UserCache.h"

namespace {

using UpdateMetadata::Document;

const std::string key(64, '\x11');

std::map<tstring, tstring> goodSection() {
    return {{L"url", L"https://example.com/site/"},
            {L"metadata", L"windows/Up%20Date/update-msi.txt"},
            {L"key", tstrings::fromUtf8(UpdateMetadata::hex(key))},
            {L"check", L"daily"},
            {L"mode", L"ask"},
            {L"version", L"1.0"},
            {L"order", L"1.0.0.0"}};
}

UpdateCheck::Settings settingsOf(const std::map<tstring, tstring>& section) {
    return UpdateCheck::settingsOf([&section](const tstring& name) {
        const auto found = section.find(name);
        return found == section.end() ? tstring() : found->second;
    });
}

Document newer() {
    Document document;
    document.name = L"Up Date";
    document.type = L"msi";
    document.version = L"2.0";
    document.order = L"2.0.0.0";
    document.sequence = 5;
    document.url = L"windows/Up%20Date/Up%20Date-2.0.msi";
    document.size = 3;
    document.sha256 = std::string(64, 'a');
    return document;
}

TEST(UpdateCheck, SettingsComeFromTheSectionAndWhatNoCheckCanUseIsRefused) {
    const UpdateCheck::Settings settings = settingsOf(goodSection());
    EXPECT_EQ(settings.key, key);
    EXPECT_EQ(settings.order, (UpdateMetadata::VersionOrder{1, 0, 0, 0}));
    EXPECT_EQ(settingsOf([] {
                  auto section = goodSection();
                  section[L"url"] = L"http://localhost:8080/";
                  return section;
              }())
                  .url,
              L"http://localhost:8080/");
    const std::pair<tstring, tstring> refused[] = {
        {L"url", L"http://example.com/"},
        {L"url", L"https://example.com/site"},
        {L"metadata", L"/windows/x.txt"},
        {L"metadata", L"windows/../x.txt"},
        {L"metadata", L"https://evil/x.txt"},
        {L"key", L"abcd"},
        {L"check", L"hourly"},
        {L"mode", L"silent"},
        {L"order", L"1.0"},
        {L"order", L"1.0.0.x"},
        {L"version", L""},
    };
    for (const auto& row : refused) {
        auto section = goodSection();
        section[row.first] = row.second;
        const tstring named = row.first == L"version" ? L"order" : row.first;
        try {
            settingsOf(section);
            ADD_FAILURE() << tstrings::toUtf8(row.first + L"=" + row.second) << " was taken";
        } catch (const VtErrorBase& error) {
            EXPECT_EQ(error.bareMessage(),
                      tstrings::toUtf8(L"the configuration's " + named + L"=\"" + section[named] +
                                       L"\" is not usable"));
        }
    }
}

TEST(UpdateCheck, ChecksAreDueAsConfigured) {
    const std::int64_t hour = 3600ll * 1000000000;
    const std::int64_t now = 1000 * 24 * hour;
    const struct {
        const wchar_t* check;
        std::int64_t since;
        bool due;
    } rows[] = {
        {L"every-start", 0, true},          {L"daily", 23 * hour, false},
        {L"daily", 24 * hour, true},        {L"weekly", 6 * 24 * hour, false},
        {L"weekly", 7 * 24 * hour, true},   {L"daily", -hour, true}, // the clock went back
        {L"never", 100 * 24 * hour, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(UpdateCheck::checkDue(row.check, now - row.since, now), row.due)
            << tstrings::toUtf8(row.check) << " " << row.since / hour << " h";
    }
}

TEST(UpdateCheck, OnlyANewerPackageOfThisApplicationInItsFolderIsTaken) {
    const UpdateCheck::Settings settings = settingsOf(goodSection());
    UpdateCache::State state;
    state.sequence = 4;
    EXPECT_EQ(UpdateCheck::refusal(newer(), settings, state), L"");
    const struct {
        void (*change)(Document&);
        const wchar_t* why;
    } rows[] = {
        {[](Document& d) { d.type = L"zip"; }, L"it is for a zip package"},
        {[](Document& d) { d.name = L"Other"; }, L"it is the metadata of Other, not of Up Date"},
        {[](Document& d) { d.url = L"windows/Other/Other-2.0.msi"; },
         L"its package windows/Other/Other-2.0.msi is outside windows/Up%20Date/"},
        {[](Document& d) { d.url = L"windows/Up%20Date/../Other/x.msi"; },
         L"its package windows/Up%20Date/../Other/x.msi is outside windows/Up%20Date/"},
        {[](Document& d) { d.url = L"https://evil/windows/Up%20Date/x.msi"; },
         L"its package https://evil/windows/Up%20Date/x.msi is outside windows/Up%20Date/"},
        {[](Document& d) { d.sequence = 3; }, L"its sequence 3 is older than 4, seen before"},
        {[](Document& d) { d.order = L"2.0"; }, L"its order 2.0 is not four numbers"},
        {[](Document& d) { d.version = L"1.0-fix", d.order = L"1.0.0.0"; },
         L"1.0-fix is not newer than the running 1.0"},
        {[](Document& d) { d.version = L"0.9", d.order = L"0.9.0.0"; },
         L"0.9 is not newer than the running 1.0"},
        {[](Document& d) { d.size = 0; }, L"its package's size 0 is out of bounds"},
        {[](Document& d) { d.sha256 = "xyz"; }, L"its SHA-256 is not 64 hex digits"},
    };
    for (const auto& row : rows) {
        Document document = newer();
        row.change(document);
        EXPECT_EQ(UpdateCheck::refusal(document, settings, state), row.why);
    }
}

// A start reads only what the background check left: a ready package it names to the
// application, one no longer newer or incomplete it removes; nothing else stays in the folder.
TEST(UpdateCheck, AStartPassesAReadyUpdateOnAndDropsOneThatIsNot) {
    const testsupport::TempDir dir;
    const UpdateCache::Folder folder(dir.path());
    UpdateCheck::Setup setup;
    setup.dir = dir.path();
    setup.appName = L"Up Date";
    setup.now = UserCache::now();
    UpdateCache::State state;
    state.checked = setup.now;
    state.sequence = 5;
    folder.writeState(state);
    testsupport::writeFile(folder.downloading(), "par");
    testsupport::writeFile(FileUtils::joinPath(dir.path(), L"stray"), "x");
    folder.tidy();
    EXPECT_EQ(UserCache::listDirectory(dir.path()), tstring_array{L"state"});

    const std::string ready =
        UpdateMetadata::withSignature(UpdateMetadata::signedPart(newer()), std::string(64, '\0'));
    UpdateCheck::Settings settings = settingsOf(goodSection());
    const tstring_array passed = {L"-Dvantrel.update.ready=2.0",
                                  L"-Dvantrel.update.file=" + folder.package()};
    const struct {
        const char* package;
        const wchar_t* running;
        tstring_array options;
    } rows[] = {
        {"msi", L"1.0.0.0", passed},
        {"ms", L"1.0.0.0", {}},  // incomplete
        {"msi", L"2.0.0.0", {}}, // installed meanwhile
    };
    for (const auto& row : rows) {
        folder.writeReady(ready);
        testsupport::writeFile(folder.package(), row.package);
        UpdateMetadata::parseOrder(row.running, settings.order);
        testsupport::LogRecorder trace;
        EXPECT_EQ(UpdateCheck::atStart(settings, setup), row.options);
        EXPECT_EQ(FileUtils::pathExists(folder.ready()), !row.options.empty());
        EXPECT_EQ(FileUtils::pathExists(folder.package()), !row.options.empty());
        EXPECT_EQ(folder.readState().sequence, 5u);
        EXPECT_EQ(trace.messages(L"", L"Update: no check, the last one was ").size(), 1u);
    }
}

} // namespace
