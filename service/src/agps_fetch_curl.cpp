#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "agps_fetch.h"

namespace zorvik::service::detail {

namespace {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    const std::size_t n = size * count;
    return TakeChunk(*static_cast<Transfer*>(user), data, n) ? n : 0;  // 0 aborts the transfer
}

int CheckCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const Transfer*>(user)->Cancelled() ? 1 : 0;
}

}  // namespace

AgpsResult Fetch(const std::string& address, const AgpsDownloadRequest& request, Transfer& t) {
    InitCurlOnce();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return AgpsResult::NetworkError;
    CURL* c = curl.get();
    const long timeout_ms = FetchTimeoutMs(request);
    curl_easy_setopt(c, CURLOPT_URL, address.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeout_ms);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
    // A server that announces too much is refused before anything is read.
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.limit));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, CheckCancel);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);

    const CURLcode code = curl_easy_perform(c);
    if (t.too_large || code == CURLE_FILESIZE_EXCEEDED) return AgpsResult::TooLarge;
    if (t.write_failed) return AgpsResult::WriteError;
    if (code == CURLE_ABORTED_BY_CALLBACK) return AgpsResult::Cancelled;
    if (code == CURLE_OPERATION_TIMEDOUT) return AgpsResult::TimedOut;
    if (code != CURLE_OK) return AgpsResult::NetworkError;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status == 200 ? AgpsResult::Ok : AgpsResult::NetworkError;
}

}  // namespace zorvik::service::detail
