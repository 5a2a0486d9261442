// A host lookup with a time limit, for both socket backends: getaddrinfo has
// no time-out of its own, so it runs on a thread of its own, which a caller
// that stops waiting leaves to finish by itself. Include the platform's
// getaddrinfo declarations (netdb.h, ws2tcpip.h) first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zorvik::serial::net {

// Lookups give up after this: ZorvikDll.h promises an answer within 5 s.
inline constexpr auto kResolveBound = std::chrono::seconds(5);

struct Resolution {
    std::mutex m;
    std::condition_variable done_cv;
    bool done = false;
    int result = -1;  // getaddrinfo's result once done
    addrinfo* list = nullptr;
    ~Resolution() {
        if (list) ::freeaddrinfo(list);
    }
};

// The lookup's outcome, or nullptr when it took longer than kResolveBound.
inline std::shared_ptr<Resolution> resolve(const std::string& host, std::uint16_t port) {
    auto r = std::make_shared<Resolution>();
    std::thread([r, host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int result = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
        std::lock_guard lock(r->m);
        r->result = result;
        r->list = result == 0 ? list : nullptr;
        r->done = true;
        r->done_cv.notify_all();
    }).detach();
    std::unique_lock lock(r->m);
    if (!r->done_cv.wait_for(lock, kResolveBound, [&] { return r->done; })) return nullptr;
    return r;
}

}  // namespace zorvik::serial::net
