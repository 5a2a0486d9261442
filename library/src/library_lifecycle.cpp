// Library initialise and finalise. The loader notifies the library when it is
// mapped and unmapped; a use counter makes nested notifications run the work
// only at the outermost pair, and every notification reports success.
#include "library_lifecycle.h"

#include <mutex>

namespace zorvik {

namespace {

std::mutex lifecycle_mutex;
int use_count = 0;

}  // namespace

void library_initialise() {
    std::lock_guard lock(lifecycle_mutex);
    if (use_count++ == 0) serial_link_clear_scan();
}

void library_finalise() {
    std::lock_guard lock(lifecycle_mutex);
    if (use_count == 0) return;
    if (--use_count == 0) serial_link_clear_scan();
}

// The one entry point for load notifications: attach (1) initialises,
// detach (0) finalises, thread notifications do nothing. Always succeeds.
int library_entry(unsigned reason) {
    if (reason == 1) library_initialise();
    if (reason == 0) library_finalise();
    return 1;
}

}  // namespace zorvik
