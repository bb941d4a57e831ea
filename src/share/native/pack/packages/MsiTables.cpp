#include "MsiTables.h"

#include <algorithm>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackFiles.h"
#include "PackageTools.h"

namespace {

const char* const tokenStart = "Vt";
const char tokenEnd = 'q';

tstring msiinfo() {
    return PackageTools::find(L"msiinfo", L"--type msi", L"msitools");
}

tstring msibuild() {
    return PackageTools::find(L"msibuild", L"--type msi", L"msitools");
}

typedef std::vector<std::string> Row;

// Every piece between separators, so that joined() gives the text back.
Row split(const std::string& text, const std::string& separator) {
    Row result;
    std::size_t start = 0;
    for (std::size_t end = text.find(separator); end != std::string::npos;
         start = end + separator.size(), end = text.find(separator, start)) {
        result.push_back(text.substr(start, end - start));
    }
    result.push_back(text.substr(start));
    return result;
}

std::string joined(const Row& parts, const std::string& separator) {
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        result += (i == 0 ? "" : separator) + parts[i];
    }
    return result;
}

// An exported table: column names, types, the table's name and keys, then one line per row.
// change(row, column) gets each row and the index of a column by its name.
template <class Change>
std::string withRows(const std::string& table, Change change) {
    Row rows = split(table, "\r\n");
    const Row names = split(rows[0], "\t");
    const auto column = [&names](const char* name) {
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) -
                                        names.begin());
    };
    for (std::size_t i = 3; i < rows.size(); ++i) {
        Row row = split(rows[i], "\t");
        if (row.size() == names.size()) {
            change(row, column);
            rows[i] = joined(row, "\t");
        }
    }
    return joined(rows, "\r\n");
}

// Windows Installer compares three numbers of a version: a rebuild, another fourth number or
// qualifier would install beside the one installed unless an equal version is replaced too.
std::string withSameVersionUpgrades(const std::string& table) {
    return withRows(table, [](Row& row, const auto& column) {
        const std::size_t action = column("ActionProperty");
        const std::size_t attributes = column("Attributes");
        if (action < row.size() && attributes < row.size() &&
            row[action] == "WIX_UPGRADE_DETECTED") {
            const unsigned long includeMaximum = 0x200;
            row[attributes] = std::to_string(std::stoul("0" + row[attributes]) | includeMaximum);
        }
    });
}

// The summary's own code page is its property 1.
std::string withUtf8Summary(const std::string& table) {
    return withRows(table, [](Row& row, const auto&) {
        if (row.size() == 2 && row[0] == "1") {
            row[1] = "65001";
        }
    });
}

std::string finishedTable(const std::string& name, const std::string& table,
                          const MsiTables::Texts& texts) {
    std::string result = texts.replaced(table);
    if (name == "Upgrade") {
        result = withSameVersionUpgrades(result);
    }
    if (name == "_SummaryInformation" && !texts.allAscii()) {
        result = withUtf8Summary(result);
    }
    return result;
}

// Run in the work folder: msiinfo writes a table's streams (an icon) beside it.
std::string exported(const tstring& msiPath, const std::string& table, const tstring& workDir) {
    return PackageTools::run(msiinfo(), {L"export", msiPath, tstrings::fromUtf8(table)}, workDir);
}

} // namespace

namespace MsiTables {

std::string Texts::plain(const tstring& text) {
    return token(tstrings::toUtf8(text));
}

std::string Texts::formatted(const tstring& text) {
    std::string escaped;
    for (const char c : tstrings::toUtf8(text)) {
        const bool syntax = c == '[' || c == ']' || c == '{' || c == '}';
        escaped += syntax ? std::string("[\\") + c + "]" : std::string(1, c);
    }
    return token(escaped);
}

std::string Texts::token(const std::string& replacement) {
    const auto found = byText.find(replacement);
    if (found != byText.end()) {
        return found->second;
    }
    const std::string name = tokenStart + std::to_string(byToken.size() + 1) + tokenEnd;
    byToken[name] = replacement;
    byText[replacement] = name;
    return name;
}

std::string Texts::replaced(const std::string& text) const {
    std::string result;
    std::size_t done = 0;
    for (std::size_t at = text.find(tokenStart); at != std::string::npos;
         at = text.find(tokenStart, at + 1)) {
        const std::size_t end = text.find(tokenEnd, at);
        const auto found =
            end == std::string::npos ? byToken.end() : byToken.find(text.substr(at, end + 1 - at));
        if (found != byToken.end()) {
            result += text.substr(done, at - done) + found->second;
            done = end + 1;
            at = end;
        }
    }
    return result + text.substr(done);
}

bool Texts::allAscii() const {
    for (const auto& text : byText) {
        for (const char c : text.first) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                return false;
            }
        }
    }
    return true;
}

void checkTools() {
    msiinfo();
    msibuild();
}

void finish(const tstring& msiFile, const Texts& texts, const tstring& workDir) {
    const tstring msiPath = PackFiles::normalPath(msiFile);
    std::map<std::string, std::string> changed;
    const std::string tables = PackageTools::run(msiinfo(), {L"tables", msiPath});
    for (const tstring& line : tstrings::split(tstrings::fromUtf8(tables), L"\n")) {
        const std::string name = tstrings::toUtf8(line);
        if (name.empty() || name == "_ForceCodepage") {
            continue;
        }
        const std::string table = exported(msiPath, name, workDir);
        const std::string finished = finishedTable(name, table, texts);
        if (finished != table) {
            changed[name] = finished;
        }
    }
    tstring_array args = {msiPath};
    const auto import = [&](const std::string& name, const std::string& text) {
        const tstring file = FileUtils::joinPath(workDir, tstrings::fromUtf8(name) + L".idt");
        PackFiles::writeFile(file, text);
        args.insert(args.end(), {L"-i", file});
    };
    // The code page first: the texts imported after it are kept in it.
    if (!texts.allAscii()) {
        import("_ForceCodepage", "\r\n\r\n65001\t_ForceCodepage\r\n");
    }
    for (const auto& table : changed) {
        import(table.first, table.second);
    }
    PackageTools::run(msibuild(), args);
    for (const auto& table : changed) {
        if (exported(msiPath, table.first, workDir) != table.second) {
            VT_RAISE(tstrings::TextBuilder()
                     << L"msibuild did not write the table " << tstrings::fromUtf8(table.first)
                     << L" of " << msiPath << L" as it was given");
        }
    }
}

} // namespace MsiTables
