#include "zorvik/service/pacing.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zorvik::service {

namespace {
// Short enough that a stop request is seen at once, long enough not to spin.
constexpr int kPauseSliceMs = 20;
}  // namespace

bool Pacing::Pause(int ms) const {
    for (int left = std::max(ms, 0); left > 0; left -= kPauseSliceMs) {
        if (Cancelled()) return false;
        const int slice = std::min(left, kPauseSliceMs);
        if (sleep) {
            sleep(slice);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        }
    }
    return !Cancelled();
}

}  // namespace zorvik::service
