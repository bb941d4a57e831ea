#include "InputNames.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <locale>
#include <map>
#include <vector>

#include "ErrorHandling.h"
#include "PackFiles.h"
#include "PackOptions.h"

namespace fs = std::filesystem;

namespace {

bool isWindowsDeviceName(const tstring& name) {
    // "CON.txt" and "con .txt" name the device too.
    tstring base = tstrings::toLower(name.substr(0, name.find(L'.')));
    base.erase(base.find_last_not_of(L' ') + 1);
    if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul") {
        return true;
    }
    return base.size() == 4 &&
           (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// Bytes of a name as one printable line: what isn't UTF-8 and control characters as \xNN.
std::string shownBytes(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const std::string sequence = bytes.substr(i, length);
        const bool valid =
            lead >= 0x20 && lead != 0x7F && (length == 1 || !tstrings::fromUtf8(sequence).empty());
        if (valid) {
            shown += sequence;
            i += length;
        } else {
            shown += std::string("\\x") + hex[lead >> 4] + hex[lead & 0xF];
            ++i;
        }
    }
    return shown;
}

bool isControl(wchar_t c) {
    return c < 0x20 || c == 0x7F;
}

// Stored exactly, but unpacked as a folder separator, or dropped.
bool isZipUnsafe(wchar_t c) {
    return c == L'\\' || isControl(c);
}

// Windows compares names without case, by each character's upper case.
tstring caseless(const tstring& name) {
    static const std::locale unicode = [] {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    tstring result = name;
    for (wchar_t& c : result) {
        c = std::toupper(c, unicode);
    }
    return result;
}

class NameWalk {
public:
    explicit NameWalk(const PackOptions& options)
        : windows(options.target->windows), package(options.package.type != PackageType::Image),
          zip(options.package.type == PackageType::Zip),
          rpm(options.package.type == PackageType::Rpm) {}

    void folder(const fs::path& dir, const std::string& shownDir) {
        std::error_code error;
        const fs::path real = fs::canonical(dir, error);
        // The copy refuses a link back to a folder that holds it.
        if (error || std::find(openDirs.begin(), openDirs.end(), real) != openDirs.end()) {
            return;
        }
        openDirs.push_back(real);
        std::map<tstring, std::string> seen;
        for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
            const fs::path name = it->path().filename();
            const std::string shown = shownDir + shownBytes(name.u8string());
            const tstring text = PackFiles::fromFsPath(name);
            checkName(text, shown);
            if (windows) {
                const auto other = seen.emplace(caseless(text), shown);
                if (!other.second) {
                    refuse(std::min(shown, other.first->second),
                           " beside " + std::max(shown, other.first->second) +
                               ": Windows takes both for one name");
                }
            }
            std::error_code ignored;
            if (fs::is_directory(it->path(), ignored)) {
                folder(it->path(), shown + "/");
            }
        }
        openDirs.pop_back();
    }

private:
    void checkName(const tstring& text, const std::string& shown) const {
        if (text.empty() && (windows || package)) {
            refuse(shown, ": its name isn't UTF-8");
        }
        if (windows && !InputNames::windowsCanHold(text)) {
            refuse(shown, ": Windows can't hold that name");
        }
        if (zip && std::any_of(text.begin(), text.end(), isZipUnsafe)) {
            refuse(shown, ": unzip tools change a name with a backslash or a control character");
        }
        if (rpm && std::any_of(text.begin(), text.end(), isControl)) {
            refuse(shown, ": rpm takes no name with a control character");
        }
    }

    [[noreturn]] static void refuse(const std::string& shown, const std::string& reason) {
        VT_RAISE(tstrings::TextBuilder() << L"cannot pack " << tstrings::fromUtf8(shown)
                                         << L" from the input" << tstrings::fromUtf8(reason));
    }

    bool windows;
    bool package;
    bool zip;
    bool rpm;
    std::vector<fs::path> openDirs;
};

} // namespace

namespace InputNames {

bool windowsCanHold(const tstring& name) {
    bool usable = !name.empty() && name != L"." && name != L"..";
    for (const wchar_t c : name) {
        usable =
            usable && c >= 0x20 && c != 0x7F && tstring(L"<>:\"/\\|?*").find(c) == tstring::npos;
    }
    return usable && name.back() != L'.' && name.back() != L' ' && !isWindowsDeviceName(name);
}

tstring windowsTwin(const tstring& dir, const tstring& name) {
    std::error_code error;
    for (fs::directory_iterator it(PackFiles::fsPath(dir), error), end; !error && it != end;
         it.increment(error)) {
        const tstring entry = PackFiles::fromFsPath(it->path().filename());
        if (entry != name && caseless(entry) == caseless(name)) {
            return entry;
        }
    }
    return tstring();
}

void check(const tstring& input, const PackOptions& options) {
    NameWalk(options).folder(PackFiles::fsPath(input), std::string());
}

} // namespace InputNames
