#include "DesktopFiles.h"

#include <algorithm>
#include <map>

#include "PackOptions.h"

namespace {

// One argument of an Exec key, quoted as the Desktop Entry rules ask when it needs it.
std::string execArgument(const std::string& arg) {
    if (arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    for (const char c : arg) {
        quoted += std::string(c == '"' || c == '`' || c == '$' || c == '\\' ? "\\" : "") + c;
    }
    return quoted + "\"";
}

// A string value of a desktop entry: its backslashes escaped.
std::string desktopValue(const tstring& text) {
    std::string result;
    for (const char c : tstrings::toUtf8(text)) {
        result += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return result;
}

std::string percentEscaped(const std::string& text) {
    std::string result;
    for (const char c : text) {
        result += c == '%' ? std::string("%%") : std::string(1, c);
    }
    return result;
}

std::string xmlText(const tstring& text) {
    std::string result;
    for (const char c : tstrings::toUtf8(text)) {
        switch (c) {
        case '&':
            result += "&amp;";
            break;
        case '<':
            result += "&lt;";
            break;
        case '>':
            result += "&gt;";
            break;
        case '"':
            result += "&quot;";
            break;
        default:
            result += c;
        }
    }
    return result;
}

struct Entry {
    Entry(const tstring& name, const tstring& launcher, const char* fieldCode = "")
        : name(name), launcher(launcher), fieldCode(fieldCode) {}

    tstring name;
    tstring launcher; // the launcher's path
    std::string fieldCode;
    tstring_array mimeTypes;
    bool hidden = false;
};

std::string entryText(const PackOptions& options, const Entry& entry, const tstring& iconName) {
    std::string text = "[Desktop Entry]\nType=Application\nName=" + desktopValue(entry.name) + "\n";
    if (!options.resources.description.empty()) {
        text += "Comment=" + desktopValue(options.resources.description) + "\n";
    }
    text += "Exec=" +
            desktopValue(tstrings::fromUtf8(
                percentEscaped(execArgument(tstrings::toUtf8(entry.launcher))))) +
            entry.fieldCode + "\n";
    if (!iconName.empty()) {
        text += "Icon=" + desktopValue(iconName) + "\n";
    }
    text += "Terminal=false\n";
    if (entry.hidden) {
        text += "NoDisplay=true\n";
    } else {
        text += "Categories=Utility;\n";
    }
    if (!entry.mimeTypes.empty()) {
        text += "MimeType=";
        for (const tstring& type : entry.mimeTypes) {
            text += desktopValue(type) + ";";
        }
        text += "\n";
    }
    return text;
}

// The MIME types of the file types, each once, in the order given.
tstring_array fileMimeTypes(const PackOptions& options) {
    tstring_array types;
    for (const FileType& type : options.desktop.fileTypes) {
        if (std::find(types.begin(), types.end(), type.mimeType) == types.end()) {
            types.push_back(type.mimeType);
        }
    }
    return types;
}

} // namespace

namespace DesktopFiles {

std::vector<File> entries(const PackOptions& options, const tstring& imageDir,
                          const tstring& iconName) {
    const tstring& packageName = options.package.linuxPackageName;
    const tstring applications = L"applications/";
    const tstring launcher = imageDir + L"/" + options.name;
    std::vector<File> files;
    if (options.package.desktopEntry) {
        Entry entry{options.name, launcher};
        entry.mimeTypes = fileMimeTypes(options);
        entry.fieldCode = entry.mimeTypes.empty() ? "" : " %f";
        files.emplace_back(applications + packageName + L".desktop",
                           entryText(options, entry, iconName));
    }
    if (!options.desktop.urlSchemes.empty()) {
        Entry entry{options.name, launcher, " %u"};
        for (const tstring& scheme : options.desktop.urlSchemes) {
            entry.mimeTypes.push_back(L"x-scheme-handler/" + scheme);
        }
        entry.hidden = true;
        // A '.' that no extra launcher's PKG-name has.
        files.emplace_back(applications + packageName + L".links.desktop",
                           entryText(options, entry, iconName));
    }
    for (const ExtraLauncher& extra : options.desktop.launchers) {
        if (extra.gui) {
            const Entry entry{extra.name, imageDir + L"/" + extra.name};
            files.emplace_back(applications + DesktopNames::linuxCommand(packageName, extra.name) +
                                   L".desktop",
                               entryText(options, entry, iconName));
        }
    }
    return files;
}

std::vector<File> mimeInfo(const PackOptions& options) {
    if (options.desktop.fileTypes.empty()) {
        return {};
    }
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<mime-info "
                       "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const tstring& mime : fileMimeTypes(options)) {
        std::string globs;
        tstring comment;
        for (const FileType& type : options.desktop.fileTypes) {
            if (type.mimeType == mime) {
                comment =
                    comment.empty() ? DesktopNames::fileTypeDescription(options, type) : comment;
                globs += "    <glob pattern=\"*." + xmlText(type.extension) + "\"/>\n";
            }
        }
        text += "  <mime-type type=\"" + xmlText(mime) + "\">\n    <comment>" + xmlText(comment) +
                "</comment>\n" + globs + "  </mime-type>\n";
    }
    return {
        {L"mime/packages/" + options.package.linuxPackageName + L".xml", text + "</mime-info>\n"}};
}

} // namespace DesktopFiles
