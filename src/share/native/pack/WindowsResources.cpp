#include "WindowsResources.h"

#include "ErrorHandling.h"

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

void refuseUnsupportedResources(const WindowsResources& resources) {
    if (!resources.empty()) {
        VT_RAISE(tstrings::TextBuilder()
                 << resources.givenOptions()
                 << L": setting the launcher's Windows resources is not supported yet");
    }
}

void applyWindowsResources(const tstring& exePath, const WindowsResources& resources) {
    (void)exePath;
    refuseUnsupportedResources(resources);
}
