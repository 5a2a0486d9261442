// Broadcast and long-term ephemeris files made for a test: a known time, known
// frames, and the bytes around them that the upload has to pass over.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"

namespace zorvik::test {

using Bytes = std::vector<std::uint8_t>;

// Seconds on the ephemeris files' time scale (GPS epoch count + 315,964,811)
// for a UTC calendar time, worked out with the standard calendar.
std::uint32_t file_time(int year, int month, int day, int hour, int minute, int second);

// A VBI frame: sync pair, two bytes, the little-endian payload length, two
// bytes, then `payload` bytes that never hold 0x81 (so no sync pair inside).
Bytes vbi_frame(std::size_t payload, std::uint8_t seed);
Bytes concat(const std::vector<Bytes>& frames);

// Bytes put between frames: a lone 0x81, other bytes, and a 0x81 right before
// the next frame's sync pair.
extern const Bytes kJunk;

// A broadcast file: first_line as given (a line feed, if any, included), the
// time as ten digits, a line end, then the frames with kJunk between them,
// zero-filled to `size` bytes (the content must fit).
Bytes broadcast_file(const std::string& first_line, std::uint32_t time,
                     const std::vector<Bytes>& frames, std::size_t size = 2048);

struct LongTermRecord {
    std::uint32_t time;
    std::vector<Bytes> frames;
    // The header's byte count; 0 takes the frames' length with the junk
    // between them. The frames are zero-filled up to it.
    long byte_count = 0;
};

// The header of a long-term record: the time at its first character, the
// byte count from its 23rd, 27 characters for counts up to 999 and 28 above.
std::string long_term_header(std::uint32_t time, long byte_count);

// A long-term file: a first line, the records back to back, zero-filled to
// at least min_size bytes.
Bytes long_term_file(const std::vector<LongTermRecord>& records, std::size_t min_size = 1024);

// Sets the receiver's time as its RMC sentences give it (two-digit year).
void feed_rmc(int year, int month, int day, int hour, int minute, int second);
// Forgets the receiver's RMC time and date, as before the first RMC.
void forget_rmc();

// Collects everything the library writes to the port, on a thread of its own,
// so that no write blocks on a full pseudo-terminal.
class PortCollector {
  public:
    explicit PortCollector(PtyPair& pty);
    ~PortCollector();
    PortCollector(const PortCollector&) = delete;
    PortCollector& operator=(const PortCollector&) = delete;
    // Stops after the line has been quiet for a moment and returns the bytes.
    Bytes finish();

  private:
    PtyPair& pty_;
    std::mutex m_;
    Bytes bytes_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace zorvik::test
