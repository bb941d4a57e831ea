#include "WindowsResources.h"

#include "LauncherStamp.h"

bool WindowsResources::empty() const {
    return givenOptions().empty();
}

tstring WindowsResources::givenOptions() const {
    const std::pair<const wchar_t*, const tstring*> fields[] = {
        {L"--icon", &icon},           {L"--app-version", &appVersion},
        {L"--vendor", &vendor},       {L"--description", &description},
        {L"--copyright", &copyright},
    };
    tstring result;
    for (const auto& field : fields) {
        if (!field.second->empty()) {
            result += (result.empty() ? L"" : L", ") + tstring(field.first);
        }
    }
    return result;
}

namespace {

// The version strings default from the name and the version given (see LauncherStamp).
LauncherStamp stampOf(const tstring& name, const WindowsResources& resources) {
    return LauncherStamp{name,
                         resources.icon,
                         resources.appVersion,
                         resources.vendor,
                         resources.description,
                         resources.copyright};
}

} // namespace

void checkWindowsResources(const tstring& launcher, const tstring& name,
                           const WindowsResources& resources) {
    if (!resources.empty()) {
        checkLauncherStamp(launcher, stampOf(name, resources));
    }
}

void applyWindowsResources(const tstring& exePath, const tstring& name,
                           const WindowsResources& resources) {
    if (!resources.empty()) {
        stampLauncher(exePath, exePath, stampOf(name, resources));
    }
}
