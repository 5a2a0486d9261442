// The receiver's command intake: lines from '$' to LF, and the proprietary
// command sentences it understands. Pure functions, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

enum class CommandKind {
    Unknown,  // well-formed sentence the receiver does not act on
    FirmwareVersion,
    CustomerVersion,
    ColdStart,
    WarmStart,
    HotStart,
    BaudFirstStep,
    BaudSecondStep,
    SelectSentence,
    SingleChannelEnter,
    SingleChannelExit,
    Programming,
    VbiInput,
};

struct Command {
    bool framed = false;       // '$', body, '*' and two hexadecimal digits, nothing else
    bool checksum_ok = false;  // framed and the digits match the body
    CommandKind kind = CommandKind::Unknown;
    int baud_code = 0;         // BaudFirstStep
    int sentence = -1;         // SelectSentence: 0 RMC .. 7 ZDA
    bool sentence_on = false;  // SelectSentence: mode '4' on, '0' off
    int prn = 0;               // SingleChannelEnter
    int target = -1;           // Programming: flash area 0..4
};

// Parses one line (CR LF already cut). Kind is Unknown unless the checksum is right.
Command parse_command(std::string_view line);

// Baud rate of a $PKVX09 rate code, 0 for a code the receiver does not know.
int baud_for_code(int code);

const char* command_name(CommandKind kind);

// Assembles lines the way a receiver's intake does: a '$' starts a line (and
// abandons a partial one), LF ends it, a CR before the LF is cut. Lines longer
// than max_length are dropped whole.
class LineAssembler {
  public:
    explicit LineAssembler(std::size_t max_length = 128) : max_(max_length) {}
    // True when b completed a line; take it with take().
    bool push(std::uint8_t b);
    std::string take();
    void reset();
    std::size_t dropped_lines() const { return dropped_; }

  private:
    std::size_t max_;
    std::string line_;
    std::string done_;
    bool in_line_ = false;
    bool overflow_ = false;
    std::size_t dropped_ = 0;
};

}  // namespace sim
