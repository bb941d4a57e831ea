// Text to and from the system's code pages.
#include "WinApi.h"

#include <limits>
#include <stdexcept>

#include "ErrorHandling.h"
#include "tstrings.h"

namespace tstrings {
namespace {

unsigned systemCodePage(CodePage codePage) {
    return codePage == CodePage::Utf8 ? CP_UTF8 : CP_ACP;
}

int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        throw std::length_error("Text too long to convert");
    }
    return static_cast<int>(size);
}

} // namespace

std::string toMultiByte(const tstring& text, CodePage codePage) {
    const int length = checkedLength(text.size());
    const int needed = WideCharToMultiByte(systemCodePage(codePage), 0, text.data(), length,
                                           nullptr, 0, nullptr, nullptr);
    if (needed < 0) {
        VT_RAISE("Unexpected reply from WideCharToMultiByte()");
    }
    if (needed == 0) {
        return std::string();
    }
    std::string result(static_cast<std::size_t>(needed), '\0');
    if (needed != WideCharToMultiByte(systemCodePage(codePage), 0, text.data(), length, &result[0],
                                      needed, nullptr, nullptr)) {
        VT_RAISE("Unexpected reply from WideCharToMultiByte()");
    }
    return result;
}

tstring fromMultiByte(const std::string& text, CodePage codePage) {
    const int length = checkedLength(text.size());
    const int needed = MultiByteToWideChar(systemCodePage(codePage), MB_ERR_INVALID_CHARS,
                                           text.data(), length, nullptr, 0);
    if (needed < 0) {
        VT_RAISE("Unexpected reply from MultiByteToWideChar()");
    }
    if (needed == 0) {
        return tstring();
    }
    tstring result(static_cast<std::size_t>(needed), L'\0');
    if (needed != MultiByteToWideChar(systemCodePage(codePage), MB_ERR_INVALID_CHARS, text.data(),
                                      length, &result[0], needed)) {
        VT_RAISE("Unexpected reply from MultiByteToWideChar()");
    }
    return result;
}

} // namespace tstrings
