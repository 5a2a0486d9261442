// The reading loop the program's reader thread and the command line share:
// one byte at a time from the open port (through the serial layer's byte
// reader), line assembly, and the hand-off of each complete line to a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "LineAssembler.h"
#include "serial_port.h"

namespace zorvik::link {

enum class Next { Continue, Stop };

// One complete line, valid while the sink runs.
struct Line {
    std::string_view raw;  // as it came, from its '$' to its line feed
    char* text;            // as ParseNMEA takes it: line end cut off, zero-filled behind
};
using LineSink = std::function<Next(const Line&)>;

class LineReader {
  public:
    // Drop: a received backlog beyond kDriverQueueLimit is stale and purged
    // (the program, which must keep up with the live view); what the program
    // is sending meanwhile (a command, ephemeris frames) stays. Keep: every byte is
    // read (the command line, whose recordings must be whole).
    enum class Backlog { Drop, Keep };
    explicit LineReader(Backlog backlog);

    // One read through h, waiting at most one read time-out: 1 with a byte in
    // out, 0 when none arrived, -1 when the read failed.
    int ReadByte(serial::Handle h, std::uint8_t& out);
    // Assembles the byte; a completed line goes to the sink and is then released.
    Next Feed(std::uint8_t byte, const LineSink& sink);

    // Forgets bytes read from a handle that may since have closed; the line in
    // progress stays.
    void DropBufferedBytes() { bytes_.reset(); }
    // Starts afresh: nothing buffered, no line in progress.
    void Reset();

  private:
    // Plain data only: the program's reader is a global that outlives its
    // threads, and a destructor at exit would race with a reader still leaving.
    Backlog backlog_;
    serial::ByteReader bytes_;
    LineAssembler line_;
    char raw_[LineAssembler::kCapacity] = {};  // the line so far, as it came
    std::size_t raw_length_ = 0;
};

// What a pass of the loop found instead of a byte.
enum class Event {
    PortClosed,  // the library reports the port closed, or the reader is paused
    Quiet,       // a read time-out passed without a byte
    ReadFailed,  // the read failed (a device that went away)
};

struct ReadLoop {
    std::function<bool()> stop;              // polled before each pass
    std::function<bool()> paused;            // may be empty: never paused
    std::function<serial::Handle()> handle;  // taken anew for each read
    LineSink on_line;                        // each complete line
    std::function<Next(Event)> on_event;     // may be empty
};

// Reads until stop() or a handler returns Stop; true when a handler stopped
// it. While the port is closed or the loop paused, and after a read that
// failed at once, a pass waits a little instead of spinning. Each status check
// and read is made in a ReadTurn, so OpenPort and ClosePort wait between reads.
bool RunReadLoop(LineReader& reader, const ReadLoop& loop);

}  // namespace zorvik::link
