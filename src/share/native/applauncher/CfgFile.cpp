#include "CfgFile.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <utility>

#include "CfgFileParser.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "TextFileReader.h"

namespace SectionName {
const SectionId Application(L"Application");
const SectionId JavaOptions(L"JavaOptions");
const SectionId AppCDSJavaOptions(L"AppCDSJavaOptions");
const SectionId AppCDSGenerateCacheJavaOptions(L"AppCDSGenerateCacheJavaOptions");
const SectionId ArgOptions(L"ArgOptions");
const SectionId Update(L"Update");
} // namespace SectionName

namespace PropertyName {
const PropertyId version(L"app.version");
const PropertyId mainjar(L"app.mainjar");
const PropertyId mainmodule(L"app.mainmodule");
const PropertyId mainclass(L"app.mainclass");
const PropertyId classpath(L"app.classpath");
const PropertyId modulepath(L"app.modulepath");
const PropertyId runtime(L"app.runtime");
const PropertyId splash(L"app.splash");
const PropertyId memory(L"app.memory");
const PropertyId arguments(L"arguments");
const PropertyId javaOptions(L"java-options");
const PropertyId winNorestart(L"win.norestart");
const PropertyId cds(L"app.cds");
const PropertyId updateUrl(L"url");
const PropertyId updateMetadata(L"metadata");
const PropertyId updateKey(L"key");
const PropertyId updateCheck(L"check");
const PropertyId updateMode(L"mode");
const PropertyId updateVersion(L"version");
const PropertyId updateOrder(L"order");
} // namespace PropertyName

const CfgProperty* findProperty(const CfgSection& section, const PropertyId& id) {
    const auto entry = section.find(id);
    return entry == section.end() || entry->second.empty() ? nullptr : &*entry;
}

tstring_array propertyValues(const CfgSection& section, const PropertyId& id) {
    const auto entry = section.find(id);
    return entry == section.end() ? tstring_array() : entry->second;
}

namespace {

const SectionId* const sectionTable[] = {
    &SectionName::Application,       &SectionName::JavaOptions,
    &SectionName::AppCDSJavaOptions, &SectionName::AppCDSGenerateCacheJavaOptions,
    &SectionName::ArgOptions,        &SectionName::Update,
};

const PropertyId* const propertyTable[] = {
    &PropertyName::version,       &PropertyName::mainjar,     &PropertyName::mainmodule,
    &PropertyName::mainclass,     &PropertyName::classpath,   &PropertyName::modulepath,
    &PropertyName::runtime,       &PropertyName::splash,      &PropertyName::memory,
    &PropertyName::arguments,     &PropertyName::javaOptions, &PropertyName::winNorestart,
    &PropertyName::cds,           &PropertyName::updateUrl,   &PropertyName::updateMetadata,
    &PropertyName::updateKey,     &PropertyName::updateCheck, &PropertyName::updateMode,
    &PropertyName::updateVersion, &PropertyName::updateOrder,
};

} // namespace

namespace CfgNames {

const std::vector<const SectionId*>& sections() {
    static const std::vector<const SectionId*> all(std::begin(sectionTable),
                                                   std::end(sectionTable));
    return all;
}

const std::vector<const PropertyId*>& properties() {
    static const std::vector<const PropertyId*> all(std::begin(propertyTable),
                                                    std::end(propertyTable));
    return all;
}

} // namespace CfgNames

namespace {

// Exact and case-sensitive; null for a text that names no entry.
template <class Id, std::size_t N>
const Id* findName(const Id* const (&table)[N], const tstring& text) {
    for (const Id* id : table) {
        if (text == id->name()) {
            return id;
        }
    }
    return nullptr;
}

typedef std::map<SectionId, CfgSection> SectionTable;

// The line-by-line state of a parse.
class CfgParser {
public:
    // False for a section header without ']'.
    bool addLine(const tstring& text) {
        if (text.empty() || text[0] == L';') {
            return true;
        }
        if (text[0] == L'[') {
            return openSection(text);
        }
        if (currentSection != nullptr) {
            addProperty(text);
        }
        return true;
    }

    SectionTable finish() {
        flushPending();
        return std::move(sections);
    }

private:
    bool openSection(const tstring& header) {
        const std::size_t close = header.rfind(L']');
        if (close == tstring::npos) {
            return false;
        }
        flushPending();
        currentSection = findName(sectionTable, header.substr(1, close - 1));
        return true;
    }

    // The name ends at the first '=' without a backslash before it, or with the line.
    static std::size_t nameEnd(const tstring& line) {
        std::size_t pos = line.find(L'=');
        while (pos != tstring::npos && pos > 0 && line[pos - 1] == L'\\') {
            pos = line.find(L'=', pos + 1);
        }
        return pos;
    }

    void addProperty(const tstring& line) {
        const std::size_t end = nameEnd(line);
        const PropertyId* property = findName(propertyTable, line.substr(0, end));
        if (property != nullptr) {
            pending[*property].push_back(end == tstring::npos ? tstring() : line.substr(end + 1));
        }
    }

    // A later occurrence of a section with known properties replaces the earlier one whole.
    void flushPending() {
        if (currentSection == nullptr || pending.empty()) {
            return;
        }
        sections[*currentSection] = std::move(pending);
        pending.clear();
        currentSection = nullptr;
    }

    SectionTable sections;
    const SectionId* currentSection = nullptr;
    CfgSection pending;
};

// The C runtime's message for an error number read earlier, before anything could change it.
tstring crtErrorText(int error) {
    errno = error;
    return tstrings::fromUtf8(lastCrtErrorText());
}

// Macro expansion repeats passes until one changes nothing. A replacement that holds a macro
// name (an application installed under a folder named "$APPDIR") or a cycle of replacements
// never settles. So a value gets at most maxMacroPasses passes (a chain among the launcher's
// three macros settles within four), and no pass after the first may make it longer than twice
// its first-pass length plus the longest replacement. A value that reaches either bound gets the
// result of its first pass, every macro name of the file's text replaced once, which is what
// such an installation means; a warning tells about it. Expansion never fails, and a runaway
// value costs a few times its first-pass length.
const int maxMacroPasses = 8;

// Into out, text with every occurrence of name replaced, scanning on after each inserted
// replacement; false as soon as out grows past maxLength.
bool replaceAll(const tstring& text, const tstring& name, const tstring& replacement,
                std::size_t maxLength, tstring& out) {
    out.clear();
    std::size_t start = 0;
    for (std::size_t pos = text.find(name); pos != tstring::npos; pos = text.find(name, start)) {
        out.append(text, start, pos - start);
        out += replacement;
        start = pos + name.size();
        if (out.size() > maxLength) {
            return false;
        }
    }
    out.append(text, start, tstring::npos);
    return out.size() <= maxLength;
}

enum class PassResult { Unchanged, Changed, TooLong };

PassResult macroPass(const tstring& value, const MacroTable& macros, std::size_t maxLength,
                     tstring& result) {
    result = value;
    bool replaced = false;
    tstring scratch;
    for (const auto& macro : macros) {
        if (macro.first.empty() || result.find(macro.first) == tstring::npos) {
            continue;
        }
        if (!replaceAll(result, macro.first, macro.second, maxLength, scratch)) {
            return PassResult::TooLong;
        }
        result.swap(scratch);
        replaced = true;
    }
    return replaced && result != value ? PassResult::Changed : PassResult::Unchanged;
}

tstring expandMacros(const tstring& value, const MacroTable& macros,
                     std::size_t longestReplacement) {
    tstring firstPass;
    if (macroPass(value, macros, tstring::npos, firstPass) == PassResult::Unchanged) {
        return firstPass;
    }
    const std::size_t maxLength = 2 * firstPass.size() + longestReplacement;
    tstring current = firstPass;
    tstring next;
    for (int pass = 2; pass <= maxMacroPasses; ++pass) {
        const PassResult result = macroPass(current, macros, maxLength, next);
        if (result == PassResult::Unchanged) {
            return current;
        }
        if (result == PassResult::TooLong) {
            break;
        }
        current.swap(next);
    }
    LOG_WARNING(L"Macro expansion of \""
                << value << L"\" does not settle; the value of its first pass is used");
    return firstPass;
}

bool isStreamBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Whether text read as a decimal integer, as a formatted stream extraction reads one, is not
// 0. A number too big for an integer is not 0 either.
bool readsAsNonZeroNumber(const tstring& text) {
    std::size_t pos = 0;
    while (pos < text.size() && isStreamBlank(text[pos])) {
        ++pos;
    }
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
        ++pos;
    }
    for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
        if (text[pos] != L'0') {
            return true;
        }
    }
    return false;
}

} // namespace

CfgFile parseCfgStream(std::FILE* stream, const tstring& path, const SourcePosition& position) {
    TextLineReader reader(stream);
    CfgParser parser;
    std::string line;
    unsigned long long lineNumber = 0;
    while (reader.next(line)) {
        ++lineNumber;
        if (!parser.addLine(tstrings::fromUtf8(line))) {
            throw makeError(tstrings::TextBuilder() << "Error parsing [" << path << "] file at "
                                                    << lineNumber << ": Missing ']' character",
                            position);
        }
    }
    if (reader.failed()) {
        throw makeError(tstrings::TextBuilder()
                            << "Failed to read \"" << path
                            << "\" file up to the end: " << crtErrorText(reader.errorNumber()),
                        position);
    }
    CfgFile result;
    for (const auto& section : parser.finish()) {
        for (const auto& property : section.second) {
            result.putProperty(section.first, property.first, property.second);
        }
    }
    return result;
}

CfgFile CfgFile::load(const tstring& path) {
    const UniqueFile file = openSharedForReading(path);
    if (!file) {
        const tstring reason = tstrings::fromUtf8(lastCrtErrorText());
        VT_RAISE(tstrings::TextBuilder() << "Error opening \"" << path << "\" file: " << reason);
    }
    return parseCfgStream(file.get(), path, VT_SOURCE_POSITION);
}

const CfgSection& CfgFile::section(const SectionId& id) const {
    const auto found = data.find(id);
    return found == data.end() ? empty : found->second;
}

tstring CfgFile::lastValue(const CfgProperty& entry) {
    return entry.second.empty() ? tstring() : entry.second.back();
}

tstring CfgFile::joinedValues(const CfgProperty& entry) {
    tstring result;
    for (const tstring& value : entry.second) {
        if (&value != &entry.second.front()) {
            result += FileUtils::pathListSeparator;
        }
        result += value;
    }
    return result;
}

bool CfgFile::isTrue(const CfgProperty& entry) {
    const tstring value = lastValue(entry);
    return tstrings::equals(value, L"true", tstrings::IgnoreCase) || readsAsNonZeroNumber(value);
}

void CfgFile::putProperty(const SectionId& section, const PropertyId& property,
                          const tstring_array& values) {
    data[section][property] = values;
}

CfgFile CfgFile::resolveMacros(const MacroTable& macros) const {
    std::size_t longestReplacement = 0;
    for (const auto& macro : macros) {
        longestReplacement = std::max(longestReplacement, macro.second.size());
    }
    CfgFile copy(*this);
    for (auto& section : copy.data) {
        for (auto& property : section.second) {
            for (tstring& value : property.second) {
                value = expandMacros(value, macros, longestReplacement);
            }
        }
    }
    return copy;
}
