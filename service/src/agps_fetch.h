// The HTTP fetch of an A-GPS download. One backend per platform, chosen by
// the build: agps_fetch_curl.cpp (libcurl) and agps_fetch_winhttp.cpp
// (WinHTTP). Everything around the fetch (the temporary file, the checks
// before the older file is replaced, the messages) is shared, in agps.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "zorvik/service/agps.h"

namespace zorvik::service::detail {

// How many redirections a fetch follows (http and https only).
inline constexpr int kMaxRedirects = 5;

// What one download has seen so far; the backend feeds it the answer's body.
struct Transfer {
    std::FILE* out = nullptr;
    std::uintmax_t limit = 0;
    std::uintmax_t received = 0;
    bool too_large = false;
    bool write_failed = false;
    const std::atomic<bool>* cancel = nullptr;

    bool Cancelled() const { return cancel != nullptr && cancel->load(); }
};

// Appends one piece of the body to the file. False, with the reason noted in
// the transfer, when it would pass the limit or cannot be written: the
// backend then ends the fetch.
bool TakeChunk(Transfer& t, const char* data, std::size_t size);

// The time the whole fetch may take.
int FetchTimeoutMs(const AgpsDownloadRequest& request);

// GETs the address and feeds the body to TakeChunk. Ok when an answer with
// status 200 arrived whole in time; TooLarge, WriteError (from the transfer),
// Cancelled, TimedOut or NetworkError otherwise. An empty body is the
// caller's to judge.
AgpsResult Fetch(const std::string& address, const AgpsDownloadRequest& request, Transfer& t);

}  // namespace zorvik::service::detail
