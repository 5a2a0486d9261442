// Waiting and stopping, shared by the service procedures.
#pragma once

#include <atomic>
#include <functional>

namespace zorvik::service {

// Sleeps for the given milliseconds. Procedures wait through this only, so a
// caller can replace the clock (tests) without touching the procedures.
using SleepFunction = std::function<void(int ms)>;

// How a procedure waits and how it learns that it should stop.
struct Pacing {
    // Empty: the thread really sleeps.
    SleepFunction sleep;
    // Raised by the caller (a window's Close, a second Ctrl-C). Procedures test
    // it between their steps and within their waits; a library call already
    // running (an XMODEM transfer, an ephemeris upload) finishes first.
    const std::atomic<bool>* cancel = nullptr;

    bool Cancelled() const { return cancel != nullptr && cancel->load(); }
    // Waits ms in short slices; false as soon as a stop has been asked for.
    bool Pause(int ms) const;
};

}  // namespace zorvik::service
