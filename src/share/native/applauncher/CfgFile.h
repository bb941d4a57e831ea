#ifndef VANTREL_CFGFILE_H
#define VANTREL_CFGFILE_H

#include <cwchar>
#include <map>
#include <vector>

#include "tstrings.h"

// Identifies one entry of a fixed name table; compares and orders by the name's text.
template <class Tag>
class CfgName {
public:
    explicit constexpr CfgName(const wchar_t* name) : text(name) {}
    const wchar_t* name() const { return text; }
    bool operator==(const CfgName& other) const { return std::wcscmp(text, other.text) == 0; }
    bool operator!=(const CfgName& other) const { return !(*this == other); }
    bool operator<(const CfgName& other) const { return std::wcscmp(text, other.text) < 0; }

private:
    const wchar_t* text;
};

struct SectionTag {};
struct PropertyTag {};
typedef CfgName<SectionTag> SectionId;
typedef CfgName<PropertyTag> PropertyId;

namespace SectionName {
extern const SectionId Application;
extern const SectionId JavaOptions;
extern const SectionId AppCDSJavaOptions;
extern const SectionId AppCDSGenerateCacheJavaOptions;
extern const SectionId ArgOptions;
extern const SectionId Update;
} // namespace SectionName

namespace PropertyName {
extern const PropertyId version;
extern const PropertyId mainjar;
extern const PropertyId mainmodule;
extern const PropertyId mainclass;
extern const PropertyId classpath;
extern const PropertyId modulepath;
extern const PropertyId runtime;
extern const PropertyId splash;
extern const PropertyId memory;
extern const PropertyId arguments;
extern const PropertyId javaOptions;
extern const PropertyId winNorestart;
extern const PropertyId cds;
// Of the section Update.
extern const PropertyId updateUrl, updateMetadata, updateKey, updateCheck, updateMode,
    updateVersion, updateOrder;
} // namespace PropertyName

// Every section and property that the parser keeps; it skips the others.
namespace CfgNames {
const std::vector<const SectionId*>& sections();
const std::vector<const PropertyId*>& properties();
} // namespace CfgNames

typedef std::map<PropertyId, tstring_array> CfgSection;
typedef CfgSection::value_type CfgProperty;
typedef std::map<tstring, tstring> MacroTable;

// A property with at least one value, or null.
const CfgProperty* findProperty(const CfgSection& section, const PropertyId& id);
// A property's values in file order; none when it is missing.
tstring_array propertyValues(const CfgSection& section, const PropertyId& id);

// The launcher configuration: known sections holding known properties, each a list of values
// in file order.
class CfgFile {
public:
    static CfgFile load(const tstring& path);

    // The section, or an empty one when the file had none.
    const CfgSection& section(const SectionId& id) const;

    static tstring lastValue(const CfgProperty& entry);
    static tstring joinedValues(const CfgProperty& entry);
    static bool isTrue(const CfgProperty& entry);

    void putProperty(const SectionId& section, const PropertyId& property,
                     const tstring_array& values);

    CfgFile resolveMacros(const MacroTable& macros) const;

    const std::map<SectionId, CfgSection>& sections() const { return data; }

private:
    std::map<SectionId, CfgSection> data;
    CfgSection empty;
};

#endif
