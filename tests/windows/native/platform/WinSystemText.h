#ifndef VANTREL_TESTS_WINSYSTEMTEXT_H
#define VANTREL_TESTS_WINSYSTEMTEXT_H

#include "WinApi.h"

#include <string>

#include "TestSupport.h"

// The system's own text for code, on one line without its closing period.
inline std::string systemDescription(DWORD code) {
    return testsupport::systemDescription(code);
}

// "System error [<code>](system error <code> (<description>))"
inline std::string systemPart(DWORD code) {
    return "System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (" + systemDescription(code) + "))";
}

#endif
