// The boot loader's XMODEM receiver: 128-byte (SOH) and 1024-byte (STX)
// blocks with an 8-bit arithmetic sum, EOT to end. Pure: bytes in, events
// and answer bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::xmodem {

inline constexpr std::uint8_t kSOH = 0x01;
inline constexpr std::uint8_t kSTX = 0x02;
inline constexpr std::uint8_t kEOT = 0x04;
inline constexpr std::uint8_t kACK = 0x06;
inline constexpr std::uint8_t kNAK = 0x15;
inline constexpr std::uint8_t kCAN = 0x18;

enum class EventKind {
    Block,      // a block was received whole (ok or not, see below)
    Duplicate,  // the previous block again (its ACK was lost): acknowledged, not stored
    Eot,        // end of transmission, acknowledged
    Cancel,     // the sender cancelled (CAN)
};

struct Event {
    EventKind kind = EventKind::Block;
    int number = 0;           // block number as sent
    std::size_t size = 0;     // data bytes: 128 or 1024
    bool ok = false;          // Block: stored and acknowledged
    std::string reason;       // Block, not ok: "sum", "complement", "number", "timeout"
    std::uint8_t answer = 0;  // byte to send back (ACK or NAK), 0 for none
};

class Receiver {
  public:
    // Feeds received bytes; returns what they completed, in order.
    std::vector<Event> feed(const std::uint8_t* data, std::size_t n);
    // The sender went quiet inside a block: drop the partial block and NAK it.
    std::vector<Event> expire_partial();

    bool in_block() const { return have_ > 0; }
    bool finished() const { return finished_; }
    bool started() const { return started_; }
    int blocks_ok() const { return blocks_ok_; }
    std::size_t skipped() const { return skipped_; }
    // The data of the good blocks, padding included, in order.
    const std::vector<std::uint8_t>& image() const { return image_; }

  private:
    void complete_block(std::vector<Event>& out);

    std::uint8_t block_[3 + 1024 + 1] = {};
    std::size_t need_ = 0;  // total bytes of the block in progress
    std::size_t have_ = 0;
    std::uint8_t expected_ = 1;  // next block number, 8-bit, wraps 255 -> 0
    bool started_ = false;
    bool finished_ = false;
    int blocks_ok_ = 0;
    std::size_t skipped_ = 0;
    std::vector<std::uint8_t> image_;
};

}  // namespace sim::xmodem
