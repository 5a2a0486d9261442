// The Windows fetch: WinHTTP, synchronous, on the calling thread. WinHTTP
// rather than the URL moniker's one-call download, because that call writes
// into a file of its own choosing, through the browser cache, with no time
// limit, no status code and no size limit; here the body is streamed into
// the caller's temporary file under the same checks as on Linux.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "agps_fetch.h"

namespace zorvik::service::detail {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kChunkBytes = 16 * 1024;

struct HandleCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// The parts of an address WinHTTP connects and asks with.
struct Target {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path_and_query;
    bool secure = false;
};

bool Crack(const std::wstring& address, Target& target) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(address.c_str(), 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.path_and_query.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr)
        target.path_and_query.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return !target.host.empty();
}

// Why the last WinHTTP call failed. Windows reports a wait that ran out by
// its own code, Wine as a failed connection; so a failure once the deadline
// has passed counts as the time-out it is.
AgpsResult LastFailure(Clock::time_point deadline) {
    const DWORD error = GetLastError();
    return error == ERROR_WINHTTP_TIMEOUT || Clock::now() >= deadline ? AgpsResult::TimedOut
                                                                      : AgpsResult::NetworkError;
}

bool QueryNumber(HINTERNET request, DWORD what, DWORD& value) {
    DWORD size = sizeof(value);
    return WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                               WINHTTP_NO_HEADER_INDEX);
}

// Milliseconds left before the deadline, rounded up so that a wait bounded
// by it ends no earlier than the deadline; 0 when it has passed.
int Remaining(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Bounds the request's next wait for the answer or its body by what is left
// of the deadline. The time for the answer's head is an option of its own:
// without it a server that accepts and never answers holds the fetch for good.
bool BoundNextWait(HINTERNET request, Clock::time_point deadline) {
    DWORD left = static_cast<DWORD>(Remaining(deadline));
    if (left == 0) return false;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &left, sizeof(left));
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
    return true;
}

// Reads the body into the transfer, each wait bounded by what is left of the
// deadline. A connection that ends before the announced length is a broken
// answer, not a whole one.
AgpsResult ReadBody(HINTERNET request, Transfer& t, Clock::time_point deadline,
                    const DWORD* announced) {
    std::vector<char> buffer(kChunkBytes);
    for (;;) {
        if (t.Cancelled()) return AgpsResult::Cancelled;
        if (!BoundNextWait(request, deadline)) return AgpsResult::TimedOut;
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), kChunkBytes, &got))
            return LastFailure(deadline);
        if (got == 0) {  // the end of the body
            const bool whole = announced == nullptr || t.received == *announced;
            return whole ? AgpsResult::Ok : AgpsResult::NetworkError;
        }
        if (!TakeChunk(t, buffer.data(), got))
            return t.too_large ? AgpsResult::TooLarge : AgpsResult::WriteError;
    }
}

}  // namespace

AgpsResult Fetch(const std::string& address, const AgpsDownloadRequest& request, Transfer& t) {
    const int timeout_ms = FetchTimeoutMs(request);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    Target target;
    if (!Crack(Widen(address), target)) return AgpsResult::NetworkError;

    const std::wstring agent = Widen("Zorvik/" ZORVIK_VERSION);
    const Handle session(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return AgpsResult::NetworkError;
    WinHttpSetTimeouts(session.get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms);
    DWORD redirects = kMaxRedirects;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                     sizeof(redirects));
    const Handle connection(WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
    if (!connection) return LastFailure(deadline);
    // The request's path and query go out as the build wrote them.
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (target.secure ? WINHTTP_FLAG_SECURE : 0);
    const Handle http(WinHttpOpenRequest(connection.get(), L"GET", target.path_and_query.c_str(),
                                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         flags));
    if (!http) return LastFailure(deadline);
    if (t.Cancelled()) return AgpsResult::Cancelled;
    if (!BoundNextWait(http.get(), deadline)) return AgpsResult::TimedOut;
    if (!WinHttpSendRequest(http.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(http.get(), nullptr))
        return LastFailure(deadline);

    DWORD status = 0;
    if (!QueryNumber(http.get(), WINHTTP_QUERY_STATUS_CODE, status) || status != 200)
        return AgpsResult::NetworkError;
    // A server that announces too much is refused before anything is read.
    DWORD announced = 0;
    const bool has_length = QueryNumber(http.get(), WINHTTP_QUERY_CONTENT_LENGTH, announced);
    if (has_length && announced > t.limit) return AgpsResult::TooLarge;
    return ReadBody(http.get(), t, deadline, has_length ? &announced : nullptr);
}

}  // namespace zorvik::service::detail
