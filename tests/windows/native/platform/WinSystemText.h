#ifndef VANTREL_TESTS_WINSYSTEMTEXT_H
#define VANTREL_TESTS_WINSYSTEMTEXT_H

#include "WinApi.h"

#include <string>

#include "tstrings.h"

// The system's own text for code, read without the launcher's code, on one line without its
// closing period, as error messages show it.
inline std::string systemDescription(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0) {
        return "<no system text>";
    }
    tstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    return tstrings::toUtf8(text);
}

// "System error [<code>](system error <code> (<description>))"
inline std::string systemPart(DWORD code) {
    return "System error [" + std::to_string(code) + "](system error " + std::to_string(code) +
           " (" + systemDescription(code) + "))";
}

#endif
