#ifndef VANTREL_JLIRECORD_H
#define VANTREL_JLIRECORD_H

#include <map>
#include <string>

// The record that the test runtime's JLI_Launch writes: one "key=value" line per item, bytes
// as received. In values '%', CR and LF are written as "%25", "%0D" and "%0A", so a line
// always holds exactly one item.
//
// Keys: "argc", "argv[<i>]" for 0 <= i < argc, "argv[argc]" ("null" when the list ends with
// a null entry), "jargc", "jargv", "appclassc", "appclassv" ("null" or "nonnull"),
// "fullversion", "dotversion", "pname", "lname", "javaargs", "cpwildcard", "javaw", "ergo",
// "env.<NAME>" for each recorded variable that is set (absent when unset; values UTF-8),
// "exportsGetAPI" ("1"/"0"), when exported "api" ("null"/"nonnull") and, for a table,
// "api.closeHandle", "api.getJvmlLauncherDataSize", "api.initJvmlLauncherData"
// ("null"/"nonnull"), "pid" (the calling process), "status" (what JLI_Launch returns), and "end=1" as the last line.
namespace jlirecord {

// Variables that JLI_Launch always records.
constexpr const char* alwaysRecordedVars[] = {"PATH", "LD_LIBRARY_PATH", "VANTREL_DEBUG"};

// The file to write the record to.
constexpr const char* recordFileVar = "VANTREL_TEST_RECORD";
// More variables to record, comma-separated names.
constexpr const char* recordVarsVar = "VANTREL_TEST_RECORD_VARS";
// The status for JLI_Launch to return, decimal, 0 when unset.
constexpr const char* statusVar = "VANTREL_TEST_STATUS";
// When set, JLI_Launch ends the process with this exit code (decimal) after the record, as a
// Java application calling System.exit does.
constexpr const char* exitVar = "VANTREL_TEST_EXIT";
// When set, JLI_Launch waits this many milliseconds after writing the record.
constexpr const char* sleepVar = "VANTREL_TEST_SLEEP_MS";
// Windows: when set, a console control event ends the process with this exit code half a
// second later, as a JVM running its shutdown hooks does.
constexpr const char* consoleEventExitVar = "VANTREL_TEST_CONSOLE_EVENT_EXIT";

inline std::string escape(const std::string& value) {
    std::string result;
    for (const char c : value) {
        if (c == '%') {
            result += "%25";
        } else if (c == '\r') {
            result += "%0D";
        } else if (c == '\n') {
            result += "%0A";
        } else {
            result += c;
        }
    }
    return result;
}

inline std::string unescape(const std::string& value) {
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string code = value.substr(i, 3);
        if (code == "%25" || code == "%0D" || code == "%0A") {
            result += code == "%25" ? '%' : code == "%0D" ? '\r' : '\n';
            i += 2;
        } else {
            result += value[i];
        }
    }
    return result;
}

// Key to unescaped value; lines without '=' are skipped.
inline std::map<std::string, std::string> parse(const std::string& record) {
    std::map<std::string, std::string> items;
    std::size_t start = 0;
    while (start < record.size()) {
        std::size_t end = record.find('\n', start);
        if (end == std::string::npos) {
            end = record.size();
        }
        const std::string line = record.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            items[line.substr(0, eq)] = unescape(line.substr(eq + 1));
        }
        start = end + 1;
    }
    return items;
}

} // namespace jlirecord

#endif
