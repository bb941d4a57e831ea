#include "DesktopOptions.h"

#include <algorithm>

#include "PackOptions.h"

namespace {

bool isAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool isAsciiAlnum(wchar_t c) {
    return isAsciiLetter(c) || (c >= L'0' && c <= L'9');
}

bool hasControl(const tstring& text) {
    return std::any_of(text.begin(), text.end(),
                       [](wchar_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); });
}

// Splits at the first colons: at most parts pieces, the last one taking the rest.
tstring_array splitParts(const tstring& value, std::size_t parts) {
    tstring_array result;
    std::size_t start = 0;
    for (std::size_t colon = value.find(L':'); colon != tstring::npos && result.size() + 1 < parts;
         colon = value.find(L':', start)) {
        result.push_back(value.substr(start, colon - start));
        start = colon + 1;
    }
    result.push_back(value.substr(start));
    return result;
}

void refuse(const PackOption& option, const wchar_t* what, const tstring& value) {
    valueRefused(tstrings::TextBuilder()
                 << option.name << L" " << what << L": \"" << printable(value) << L"\"");
}

// The registry takes an extension in a key of its own and a desktop in a glob; the ProgId that
// holds it has 39 characters at most.
bool isExtension(const tstring& ext) {
    return !ext.empty() && ext.size() <= 16 && std::all_of(ext.begin(), ext.end(), [](wchar_t c) {
        return isAsciiAlnum(c) || c == L'-' || c == L'_' || c == L'+';
    });
}

// TYPE/SUBTYPE with the characters of a registered name (RFC 6838), of the top-level types that
// desktop entries accept for documents.
bool isMimeType(const tstring& mime) {
    const std::size_t slash = mime.find(L'/');
    if (slash == tstring::npos) {
        return false;
    }
    const tstring type = mime.substr(0, slash);
    const tstring subtype = mime.substr(slash + 1);
    const tstring_array types = {L"application", L"audio", L"font", L"image",
                                 L"model",       L"text",  L"video"};
    return std::find(types.begin(), types.end(), type) != types.end() && !subtype.empty() &&
           subtype.size() <= 64 && isAsciiAlnum(subtype[0]) &&
           std::all_of(subtype.begin(), subtype.end(), [](wchar_t c) {
               return isAsciiAlnum(c) || tstring(L"!#$&^_.+-").find(c) != tstring::npos;
           });
}

// RFC 3986: a letter, then letters, digits, + - and '.'.
bool isScheme(const tstring& scheme) {
    return !scheme.empty() && scheme.size() <= 64 && isAsciiLetter(scheme[0]) &&
           std::all_of(scheme.begin(), scheme.end(), [](wchar_t c) {
               return isAsciiAlnum(c) || c == L'+' || c == L'-' || c == L'.';
           });
}

// Dotted Java identifiers; letters outside ASCII are the runtime's business.
bool isClassName(const tstring& name) {
    bool valid = !name.empty();
    for (const tstring& part : tstrings::split(name, L".")) {
        valid = valid && !part.empty() && !(part[0] >= L'0' && part[0] <= L'9') &&
                std::all_of(part.begin(), part.end(), [](wchar_t c) {
                    return isAsciiAlnum(c) || c == L'_' || c == L'$' || c >= 0xA0;
                });
    }
    return valid && name.back() != L'.';
}

void readFileTypes(PackOptions& options, const tstring_array& values) {
    for (const tstring& value : values) {
        const tstring_array parts = splitParts(value, 3);
        if (parts.size() < 2) {
            refuse(PackOpt::fileType, L"must be EXT:MIME[:DESCRIPTION]", value);
        }
        FileType type{parts[0], tstrings::toLower(parts[1]), parts.size() > 2 ? parts[2] : L""};
        if (!isExtension(type.extension)) {
            refuse(PackOpt::fileType,
                   L"takes an extension of 1 to 16 letters, digits, - _ + without its dot",
                   type.extension);
        }
        if (!isMimeType(type.mimeType)) {
            refuse(PackOpt::fileType,
                   L"takes a MIME type TYPE/SUBTYPE of application, audio, font, image, model, "
                   L"text or video",
                   parts[1]);
        }
        if (hasControl(type.description)) {
            refuse(PackOpt::fileType, L"takes no control character in its description", value);
        }
        // Windows and the shared MIME database take extensions in any case.
        for (const FileType& other : options.desktop.fileTypes) {
            if (tstrings::toLower(other.extension) == tstrings::toLower(type.extension)) {
                refuse(PackOpt::fileType, L"gives an extension twice", type.extension);
            }
        }
        options.desktop.fileTypes.push_back(type);
    }
}

void readUrlSchemes(PackOptions& options, const tstring_array& values) {
    for (const tstring& value : values) {
        if (!isScheme(value)) {
            refuse(PackOpt::urlScheme, L"must be a letter, then letters, digits, + - .", value);
        }
        const tstring scheme = tstrings::toLower(value);
        tstring_array& schemes = options.desktop.urlSchemes;
        if (std::find(schemes.begin(), schemes.end(), scheme) != schemes.end()) {
            refuse(PackOpt::urlScheme, L"gives a scheme twice", value);
        }
        schemes.push_back(scheme);
    }
}

void readLaunchers(PackOptions& options, const tstring_array& values) {
    if (!values.empty() && !options.mainModule.empty()) {
        valueRefused(tstrings::TextBuilder() << PackOpt::addLauncher.name
                                             << L" starts a class of the class path: it does not "
                                                L"go with --module");
    }
    // Names of the image's own beside the launchers; a file system may ignore case.
    tstring_array taken = {tstrings::toLower(options.name), L"app", L"runtime", L".vantrel-image"};
    tstring_array commands;
    for (const tstring& value : values) {
        const tstring_array parts = splitParts(value, 3);
        if (parts.size() < 2 || (parts.size() == 3 && parts[2] != L"gui")) {
            refuse(PackOpt::addLauncher, L"must be NAME:MAINCLASS[:gui]", value);
        }
        const ExtraLauncher launcher{parts[0], parts[1], parts.size() == 3};
        if (!usableFileName(launcher.name, *options.target)) {
            refuse(PackOpt::addLauncher, L"is not usable as a file name", launcher.name);
        }
        if (!isClassName(launcher.mainClass)) {
            refuse(PackOpt::addLauncher, L"takes a Java class name", launcher.mainClass);
        }
        const tstring key = tstrings::toLower(launcher.name);
        if (std::find(taken.begin(), taken.end(), key) != taken.end()) {
            refuse(PackOpt::addLauncher,
                   L"names a launcher that the image has, or a folder of it, in any case",
                   launcher.name);
        }
        taken.push_back(key);
        if (isLinuxPackage(options.package.type)) {
            const tstring command =
                DesktopNames::linuxCommand(options.package.linuxPackageName, launcher.name);
            if (std::find(commands.begin(), commands.end(), command) != commands.end()) {
                refuse(PackOpt::addLauncher,
                       (L"makes a command that another makes, " + command).c_str(), launcher.name);
            }
            commands.push_back(command);
        }
        options.desktop.launchers.push_back(launcher);
    }
}

} // namespace

void resolveDesktopOptions(PackOptions& options, const tstring_array& fileTypes,
                           const tstring_array& urlSchemes, const tstring_array& launchers) {
    const PackageType type = options.package.type;
    for (const auto& given : {std::make_pair(&PackOpt::fileType, &fileTypes),
                              std::make_pair(&PackOpt::urlScheme, &urlSchemes)}) {
        if (!given.second->empty() && type != PackageType::Msi && !isLinuxPackage(type)) {
            valueRefused(tstrings::TextBuilder()
                         << given.first->name << L": only with --type msi, deb or rpm");
        }
    }
    readFileTypes(options, fileTypes);
    readUrlSchemes(options, urlSchemes);
    readLaunchers(options, launchers);
    // What opens files and links is found through the desktop entry.
    if (isLinuxPackage(type) && !(fileTypes.empty() && urlSchemes.empty())) {
        options.package.desktopEntry = true;
    }
}

namespace DesktopNames {

tstring linuxCommand(const tstring& packageName, const tstring& launcherName) {
    tstring command = packageName + L"-";
    for (const wchar_t c : tstrings::toLower(launcherName)) {
        const bool kept = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'+' ||
                          c == L'.' || c == L'-';
        command += kept ? c : L'-';
    }
    return command;
}

tstring fileTypeDescription(const PackOptions& options, const FileType& type) {
    return type.description.empty() ? options.name + L" document" : type.description;
}

} // namespace DesktopNames
