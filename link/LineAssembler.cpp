#include "LineAssembler.h"

#include <cstring>

namespace zorvik::link {

LineAssembler::Result LineAssembler::feed(std::uint8_t byte) {
    if (byte == '$') {
        started_ = 1;
        length_ = 0;
    }
    if (!started_) return Result::None;
    if (length_ >= kCapacity) {
        // Over-long line: drop it whole, so that its tail is never shown as a
        // sentence; reading goes on from the next '$'.
        reset();
        return Result::Overflow;
    }
    buffer_[length_++] = static_cast<char>(byte);
    if (byte == '\n' && length_ >= 3) {
        buffer_[length_] = 0;
        buffer_[length_ - 1] = 0;
        buffer_[length_ - 2] = 0;
        started_ = 0;
        length_ = 0;
        return Result::Line;
    }
    return Result::None;
}

void LineAssembler::release_line() {
    std::memset(buffer_, 0, kCapacity);
}

void LineAssembler::reset() {
    std::memset(buffer_, 0, sizeof buffer_);
    length_ = 0;
    started_ = 0;
}

}  // namespace zorvik::link
