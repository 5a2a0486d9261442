#include "xmodem.h"

namespace sim::xmodem {

std::vector<Event> Receiver::feed(const std::uint8_t* data, std::size_t n) {
    std::vector<Event> out;
    for (std::size_t i = 0; i < n && !finished_; ++i) {
        const std::uint8_t b = data[i];
        if (have_ == 0) {
            if (b == kSOH || b == kSTX) {
                need_ = 3 + (b == kSOH ? 128 : 1024) + 1;
                block_[have_++] = b;
                started_ = true;
            } else if (b == kEOT) {
                finished_ = true;
                out.push_back({EventKind::Eot, 0, 0, true, {}, kACK});
            } else if (b == kCAN) {
                finished_ = true;
                out.push_back({EventKind::Cancel, 0, 0, false, {}, 0});
            } else {
                ++skipped_;  // line noise between blocks
            }
            continue;
        }
        // Copy as much of the block as this input holds in one step.
        std::size_t take = need_ - have_;
        if (take > n - i) take = n - i;
        for (std::size_t k = 0; k < take; ++k) block_[have_ + k] = data[i + k];
        have_ += take;
        i += take - 1;
        if (have_ == need_) complete_block(out);
    }
    return out;
}

void Receiver::complete_block(std::vector<Event>& out) {
    const std::size_t size = need_ - 4;
    const std::uint8_t number = block_[1];
    const std::uint8_t complement = block_[2];
    std::uint8_t sum = 0;
    for (std::size_t k = 0; k < size; ++k) sum = static_cast<std::uint8_t>(sum + block_[3 + k]);
    Event e{EventKind::Block, number, size, false, {}, kNAK};
    if (static_cast<std::uint8_t>(number ^ complement) != 0xFF) {
        e.reason = "complement";
    } else if (sum != block_[3 + size]) {
        e.reason = "sum";
    } else if (number == static_cast<std::uint8_t>(expected_ - 1) && blocks_ok_ > 0) {
        e.kind = EventKind::Duplicate;
        e.ok = true;
        e.answer = kACK;
    } else if (number != expected_) {
        e.reason = "number";
    } else {
        e.ok = true;
        e.answer = kACK;
        image_.insert(image_.end(), block_ + 3, block_ + 3 + size);
        ++expected_;
        ++blocks_ok_;
    }
    have_ = need_ = 0;
    out.push_back(std::move(e));
}

std::vector<Event> Receiver::expire_partial() {
    std::vector<Event> out;
    if (have_ == 0) return out;
    Event e{EventKind::Block, have_ > 1 ? block_[1] : 0, need_ - 4, false, "timeout", kNAK};
    have_ = need_ = 0;
    out.push_back(std::move(e));
    return out;
}

}  // namespace sim::xmodem
