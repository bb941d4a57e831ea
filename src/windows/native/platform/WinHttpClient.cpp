// Downloads for the update check, through WinHTTP: every answer bounded in size and time.
#include "WinApi.h"

#include <winhttp.h>

#include <memory>

#include "ErrorHandling.h"
#include "UpdatePlatform.h"
#include "WinHandle.h"

namespace UpdatePlatform {

namespace {

struct InternetCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
typedef std::unique_ptr<void, InternetCloser> InternetHandle;

// A site that sends its clients elsewhere sends them a few steps at most.
const int maxRedirects = 3;

[[noreturn]] void raiseFailed(const char* call, const tstring& url, const void* function) {
    VT_RAISE_FAILED_CALL(tstrings::TextBuilder() << call << L"(" << url << L") failed", function);
}

tstring schemeOf(const tstring& url) {
    const std::size_t end = url.find(L"://");
    return end == tstring::npos ? tstring() : tstrings::toLower(url.substr(0, end + 3));
}

// Where a redirect leads: absolute, or a path on the same server.
tstring resolve(const tstring& url, const tstring& location) {
    if (!location.empty() && location[0] == L'/' && (location.size() < 2 || location[1] != L'/')) {
        const std::size_t host = url.find(L"://") + 3;
        return url.substr(0, url.find(L'/', host)) + location;
    }
    return location;
}

class Transfer {
public:
    Transfer(const HttpLimits& limits, const tstring& file)
        : limits(limits), file(file), deadline(GetTickCount64() + limits.totalMs) {}

    std::string get(tstring url) {
        const tstring scheme = schemeOf(url);
        InternetHandle session(WinHttpOpen(L"vantrel", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) {
            raiseFailed("WinHttpOpen", url, functionAddress(&WinHttpOpen));
        }
        for (int redirects = 0;; ++redirects) {
            const tstring location = request(session.get(), url);
            if (location.empty()) {
                return body;
            }
            const tstring next = resolve(url, location);
            if (schemeOf(next) != scheme || redirects == maxRedirects) {
                VT_RAISE(tstrings::TextBuilder()
                         << url << L" sends to " << location << L", which is not followed");
            }
            url = next;
        }
    }

private:
    // The Location of a redirect; empty once the body is read.
    tstring request(HINTERNET session, const tstring& url) {
        URL_COMPONENTS parts = {};
        parts.dwStructSize = sizeof(parts);
        parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = static_cast<DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
            raiseFailed("WinHttpCrackUrl", url, functionAddress(&WinHttpCrackUrl));
        }
        const tstring host(parts.lpszHostName, parts.dwHostNameLength);
        const tstring path = tstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                             tstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        const InternetHandle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
        if (!connection) {
            raiseFailed("WinHttpConnect", url, functionAddress(&WinHttpConnect));
        }
        const InternetHandle handle(
            WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES,
                               parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
        if (!handle) {
            raiseFailed("WinHttpOpenRequest", url, functionAddress(&WinHttpOpenRequest));
        }
        const int receiveMs = static_cast<int>(limits.receiveMs);
        WinHttpSetTimeouts(handle.get(), receiveMs, receiveMs, receiveMs, receiveMs);
        // Without it a server that accepts and never answers holds the request forever.
        DWORD option = limits.receiveMs;
        WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &option,
                         sizeof(option));
        option = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(handle.get(), WINHTTP_OPTION_REDIRECT_POLICY, &option, sizeof(option));
        if (!WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(handle.get(), nullptr)) {
            raiseFailed("WinHttpReceiveResponse", url, functionAddress(&WinHttpReceiveResponse));
        }
        DWORD status = 0;
        DWORD size = sizeof(status);
        WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            wchar_t location[2048];
            size = sizeof(location);
            if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_LOCATION,
                                     WINHTTP_HEADER_NAME_BY_INDEX, location, &size,
                                     WINHTTP_NO_HEADER_INDEX)) {
                VT_RAISE(tstrings::TextBuilder() << url << L" redirects nowhere");
            }
            return location;
        }
        if (status != 200) {
            VT_RAISE(tstrings::TextBuilder() << url << L" answers " << status);
        }
        read(handle.get(), url);
        return tstring();
    }

    void read(HINTERNET handle, const tstring& url) {
        UniqueFileHandle out;
        if (!file.empty()) {
            out.reset(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!out) {
                raiseFailedFileCall("CreateFile", file, functionAddress(&CreateFileW));
            }
        }
        body.clear();
        std::uint64_t total = 0;
        char buffer[65536];
        for (DWORD got = 0;; total += got) {
            if (GetTickCount64() > deadline) {
                VT_RAISE(tstrings::TextBuilder()
                         << url << L" took longer than " << limits.totalMs << L" ms");
            }
            if (!WinHttpReadData(handle, buffer, sizeof(buffer), &got)) {
                raiseFailed("WinHttpReadData", url, functionAddress(&WinHttpReadData));
            }
            if (got == 0) {
                return;
            }
            if (total + got > limits.maxBytes) {
                VT_RAISE(tstrings::TextBuilder()
                         << url << L" sends more than " << limits.maxBytes << L" bytes");
            }
            DWORD written = 0;
            if (!out) {
                body.append(buffer, got);
            } else if (!WriteFile(out.get(), buffer, got, &written, nullptr) || written != got) {
                raiseFailedFileCall("WriteFile", file, functionAddress(&WriteFile));
            }
        }
    }

    const HttpLimits limits;
    const tstring file;
    const ULONGLONG deadline;
    std::string body;
};

} // namespace

std::string httpGet(const tstring& url, const HttpLimits& limits, const tstring& file) {
    return Transfer(limits, file).get(url);
}

} // namespace UpdatePlatform
