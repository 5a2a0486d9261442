// The receiver's VBI input: frames of sync 0x81 0xFF, two bytes, a 16-bit
// little-endian payload length, two bytes, then the payload. Pure: bytes in,
// frames out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim::vbi {

// The frame that switches the receiver's input back to NMEA sentences.
inline constexpr std::uint8_t kSwitchBack[10] = {0x81, 0xFF, 0x0B, 0x00, 0x02,
                                                 0x00, 0xD0, 0xFF, 0x21, 0x02};
// Longest payload the receiver takes; a longer length field means the sync
// pair was not a frame start.
inline constexpr std::size_t kMaxPayload = 4096;

struct Frame {
    std::vector<std::uint8_t> bytes;  // the whole frame, header included
    std::size_t payload_length = 0;
    std::size_t skipped_before = 0;  // bytes skipped since the previous frame
    bool switch_back = false;
};

class Parser {
  public:
    // Scanning stops behind a switch-back frame; take_rest() hands out what follows it.
    std::vector<Frame> feed(const std::uint8_t* data, std::size_t n);
    // A partial frame went stale: its sync byte is taken as noise and the
    // rest is searched again.
    std::vector<Frame> expire_partial();

    bool partial() const { return !buf_.empty(); }
    std::size_t skipped_total() const { return skipped_total_; }
    void reset();
    // Bytes after a switch-back frame: they are no longer VBI input.
    std::vector<std::uint8_t> take_rest();

  private:
    std::vector<Frame> scan();

    std::vector<std::uint8_t> buf_;
    std::size_t start_ = 0;
    std::size_t skipped_ = 0;
    std::size_t skipped_total_ = 0;
};

}  // namespace sim::vbi
