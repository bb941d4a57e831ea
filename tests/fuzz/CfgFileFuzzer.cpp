// Feeds arbitrary bytes through the configuration parser, the lookups and macro expansion.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "CfgFile.h"
#include "CfgFileParser.h"
#include "ErrorHandling.h"
#include "Log.h"
#include "TextFileReader.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "Broken: %s\n", what);
        std::abort();
    }
}

// Parse errors are expected; anything else escapes and counts as a crash.
bool parse(const std::uint8_t* data, std::size_t size, CfgFile& cfg) {
    static char nothing;
    void* bytes = size > 0 ? const_cast<std::uint8_t*>(data) : static_cast<void*>(&nothing);
    UniqueFile stream(fmemopen(bytes, size, "rb"));
    require(stream != nullptr, "fmemopen");
    try {
        cfg = parseCfgStream(stream.get(), L"fuzz.cfg", VT_SOURCE_POSITION);
        return true;
    } catch (const VtError<std::runtime_error>& error) {
        const std::string message = error.bareMessage();
        require(message.rfind("Error parsing [fuzz.cfg] file at ", 0) == 0, "parse error text");
        return false;
    }
}

void checkLookups(CfgFile& cfg) {
    for (const SectionId* id : CfgNames::sections()) {
        const CfgSection& section = cfg.section(*id);
        std::size_t known = 0;
        for (const PropertyId* property : CfgNames::properties()) {
            known += section.count(*property);
        }
        require(known == section.size(), "unknown property kept");
        for (const CfgProperty& property : section) {
            require(!property.second.empty(), "empty value list");
            std::size_t length = property.second.size() - 1;
            for (const tstring& value : property.second) {
                length += value.size();
            }
            require(CfgFile::joinedValues(property).size() == length, "joined length");
            require(CfgFile::lastValue(property) == property.second.back(), "last value");
            CfgFile::isTrue(property);
        }
    }
    cfg.putProperty(SectionName::ArgOptions, PropertyName::arguments, {L"$APPDIR", L"x"});
    require(cfg.section(SectionName::ArgOptions).at(PropertyName::arguments).size() == 2,
            "putProperty");
}

// Replacements holding their own names, cycles, one-character names, an empty name, and text
// from the input itself.
std::vector<MacroTable> hostileMacroTables(const std::uint8_t* data, std::size_t size) {
    std::string head(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    const tstring fromInput = tstrings::fromUtf8(head.substr(0, head.find('\n')));
    return {
        {{L"$APPDIR", L"/opt/app"}, {L"$BINDIR", L"/opt/bin"}, {L"$ROOTDIR", L"/opt"}},
        {{L"$APPDIR", L"/home/$APPDIR/app"},
         {L"$BINDIR", L"$ROOTDIR/bin"},
         {L"$ROOTDIR", L"$BINDIR/.."}},
        {{L"", L"x"}, {L"$", L"$$"}, {L"$APPDIR", fromInput}, {L"$BINDIR", fromInput + fromInput}},
        {{L"A", L"AAAAAAAA"}, {L"AA", L"A"}},
        {{fromInput, L"$APPDIR" + fromInput}, {L"$APPDIR", fromInput}},
    };
}

void checkExpansion(const CfgFile& cfg, const std::uint8_t* data, std::size_t size) {
    const CfgFile unchanged = cfg.resolveMacros(MacroTable());
    require(unchanged.sections() == cfg.sections(), "expansion without macros changed values");
    for (const MacroTable& macros : hostileMacroTables(data, size)) {
        const CfgFile resolved = cfg.resolveMacros(macros);
        require(resolved.sections().size() == cfg.sections().size(), "sections lost");
    }
}

NopLogAppender quiet;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Logger::getDefault().setAppender(&quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CfgFile cfg;
    if (parse(data, size, cfg)) {
        checkLookups(cfg);
        checkExpansion(cfg, data, size);
    }
    return 0;
}
