#include "WinApi.h"

#include "FileUtils.h"
#include "MessageBoxLogAppender.h"
#include "SysInfo.h"
#include "app.h"

namespace {

tstring executableName() {
    try {
        return FileUtils::appNameOfLauncher(SysInfo::getExecutablePath());
    } catch (...) {
        // A sink must not fail; the box still says what went wrong.
        return tstring();
    }
}

} // namespace

MessageBoxLogAppender::MessageBoxLogAppender(Show show) : show(std::move(show)) {}

void MessageBoxLogAppender::append(const LogEvent&) {
    const std::string message = app::lastErrorMessage();
    if (shown || message.empty()) {
        return;
    }
    shown = true;
    show(tstrings::fromUtf8(message), executableName());
}

void MessageBoxLogAppender::showMessageBox(const tstring& text, const tstring& caption) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

bool standardErrorIsUsable() {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}
