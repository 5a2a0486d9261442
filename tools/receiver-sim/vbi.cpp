#include "vbi.h"

#include <algorithm>
#include <iterator>

namespace sim::vbi {

std::vector<Frame> Parser::feed(const std::uint8_t* data, std::size_t n) {
    buf_.insert(buf_.end(), data, data + n);
    return scan();
}

std::vector<Frame> Parser::scan() {
    std::vector<Frame> out;
    auto skip = [this] {
        ++start_;
        ++skipped_;
        ++skipped_total_;
    };
    while (start_ < buf_.size()) {
        const std::size_t avail = buf_.size() - start_;
        const std::uint8_t* p = buf_.data() + start_;
        if (p[0] != 0x81) {
            skip();
            continue;
        }
        if (avail < 2) break;
        if (p[1] != 0xFF) {
            skip();
            continue;
        }
        if (avail < 8) break;
        const std::size_t length =
            static_cast<std::size_t>(p[4]) | (static_cast<std::size_t>(p[5]) << 8);
        if (length > kMaxPayload) {
            skip();
            continue;
        }
        if (avail < 8 + length) break;
        Frame f;
        f.bytes.assign(p, p + 8 + length);
        f.payload_length = length;
        f.skipped_before = skipped_;
        f.switch_back = f.bytes.size() == std::size(kSwitchBack) &&
                        std::equal(f.bytes.begin(), f.bytes.end(), std::begin(kSwitchBack));
        skipped_ = 0;
        start_ += 8 + length;
        const bool stop = f.switch_back;
        out.push_back(std::move(f));
        if (stop) break;
    }
    // Compact what has been consumed.
    if (start_ > 0) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    return out;
}

std::vector<Frame> Parser::expire_partial() {
    if (buf_.empty()) return {};
    ++start_;
    ++skipped_;
    ++skipped_total_;
    return scan();
}

std::vector<std::uint8_t> Parser::take_rest() {
    std::vector<std::uint8_t> rest(buf_.begin() + static_cast<std::ptrdiff_t>(start_), buf_.end());
    reset();
    return rest;
}

void Parser::reset() {
    buf_.clear();
    start_ = skipped_ = 0;
}

}  // namespace sim::vbi
