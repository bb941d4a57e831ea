#include "ArchiveOptions.h"

#include <algorithm>

#include "CfgFile.h"

namespace ArchiveOptions {

namespace {

// Options with which the configuration manages class-data sharing itself.
const wchar_t* const sharingOptions[] = {L"-Xshare:",
                                         L"-XX:SharedArchiveFile",
                                         L"-XX:ArchiveClassesAtExit",
                                         L"-XX:+AutoCreateSharedArchive",
                                         L"-XX:-AutoCreateSharedArchive",
                                         L"-XX:AOTMode",
                                         L"-XX:AOTCache",
                                         L"-XX:AOTConfiguration",
                                         L"-XX:SharedClassListFile",
                                         L"-XX:DumpLoadedClassList",
                                         L"-XX:+UseSharedSpaces",
                                         L"-XX:-UseSharedSpaces"};

// Options with which the runtime refuses to map a static archive or fails the start.
const wchar_t* const refusingOptions[] = {L"--patch-module", L"--limit-modules",
                                          L"--upgrade-module-path", L"-XX:+RecordDynamicDumpInfo"};

// Options read from files that the launcher doesn't see: the key can't follow them.
const wchar_t* const hiddenOptions[] = {L"-XX:Flags=", L"-XX:VMOptionsFile="};

// What the runtime checks an archive against, or what changes its layout: heap and object
// pointer sizes, the collector, modules and the boot class path. System properties only
// select; no code runs while an archive is made.
const wchar_t* const creationOptions[] = {L"-D",
                                          L"-Xmx",
                                          L"-Xms",
                                          L"-Xbootclasspath/a:",
                                          L"--add-modules",
                                          L"--add-exports",
                                          L"--add-opens",
                                          L"--add-reads",
                                          L"--enable-native-access",
                                          L"--enable-preview",
                                          L"--module-path",
                                          L"-XX:MaxHeapSize=",
                                          L"-XX:InitialHeapSize=",
                                          L"-XX:MaxRAM",
                                          L"-XX:MinRAMPercentage=",
                                          L"-XX:InitialRAMPercentage=",
                                          L"-XX:+UseCompressedOops",
                                          L"-XX:-UseCompressedOops",
                                          L"-XX:+UseCompressedClassPointers",
                                          L"-XX:-UseCompressedClassPointers",
                                          L"-XX:ObjectAlignmentInBytes=",
                                          L"-XX:+UseCompactObjectHeaders",
                                          L"-XX:-UseCompactObjectHeaders",
                                          L"-XX:+UseSerialGC",
                                          L"-XX:+UseParallelGC",
                                          L"-XX:+UseG1GC",
                                          L"-XX:+UseZGC",
                                          L"-XX:+ZGenerational",
                                          L"-XX:-ZGenerational",
                                          L"-XX:+UseShenandoahGC",
                                          L"-XX:+UseEpsilonGC",
                                          L"-XX:+UnlockExperimentalVMOptions",
                                          L"-XX:+UnlockDiagnosticVMOptions"};

// Those that take their value as the next argument when given alone.
const wchar_t* const valueInNextArgument[] = {
    L"--add-modules",          L"--add-exports", L"--add-opens", L"--add-reads",
    L"--enable-native-access", L"--module-path", L"-p"};

bool startsWithOneOf(const tstring& option, const wchar_t* const* first,
                     const wchar_t* const* last) {
    return std::any_of(first, last, [&option](const wchar_t* prefix) {
        return tstrings::startsWith(option, prefix, tstrings::Exact);
    });
}

const wchar_t* firstStartingWithOneOf(const tstring_array& options, const wchar_t* const* first,
                                      const wchar_t* const* last) {
    for (const tstring& option : options) {
        for (const wchar_t* const* prefix = first; prefix != last; ++prefix) {
            if (tstrings::startsWith(option, *prefix, tstrings::Exact)) {
                return *prefix;
            }
        }
    }
    return nullptr;
}

} // namespace

tstring_array ofStarts(const CfgFile& cfg, const tstring& envOptions) {
    tstring_array options;
    for (const tstring& option : tstrings::split(envOptions, L" ")) {
        if (!option.empty()) {
            options.push_back(option);
        }
    }
    for (const SectionId* section : {&SectionName::JavaOptions, &SectionName::AppCDSJavaOptions}) {
        const tstring_array more = propertyValues(cfg.section(*section), PropertyName::javaOptions);
        options.insert(options.end(), more.begin(), more.end());
    }
    return options;
}

tstring_array all(const CfgFile& cfg, const tstring& envOptions) {
    tstring_array options = ofStarts(cfg, envOptions);
    const tstring_array making = propertyValues(
        cfg.section(SectionName::AppCDSGenerateCacheJavaOptions), PropertyName::javaOptions);
    options.insert(options.end(), making.begin(), making.end());
    return options;
}

tstring reasonForNone(const tstring_array& options) {
    if (firstStartingWithOneOf(options, std::begin(sharingOptions), std::end(sharingOptions))) {
        return L"the Java options manage class-data sharing";
    }
    if (const wchar_t* option = firstStartingWithOneOf(options, std::begin(refusingOptions),
                                                       std::end(refusingOptions))) {
        return tstring(L"the runtime maps no archive with the option ") + option;
    }
    if (const wchar_t* option =
            firstStartingWithOneOf(options, std::begin(hiddenOptions), std::end(hiddenOptions))) {
        return tstring(L"the option ") + option + L" reads options the launcher can't see";
    }
    return tstring();
}

tstring_array forCreation(const tstring_array& options) {
    tstring_array kept;
    for (std::size_t i = 0; i < options.size(); ++i) {
        const tstring& option = options[i];
        const bool valueFollows =
            i + 1 < options.size() &&
            std::find(std::begin(valueInNextArgument), std::end(valueInNextArgument), option) !=
                std::end(valueInNextArgument);
        if (valueFollows) {
            kept.push_back(option);
            kept.push_back(options[++i]);
        } else if (startsWithOneOf(option, std::begin(creationOptions),
                                   std::end(creationOptions))) {
            kept.push_back(option);
        }
    }
    return kept;
}

} // namespace ArchiveOptions
