// The telnet layer of a port on a serial device server: escaping of the data
// stream, a decoder that splits what the server sends into data, option
// commands and subnegotiations, the option negotiation a COM-port client
// makes, and the COM-port control commands (RFC 2217). No sockets here: the
// relay feeds it bytes and sends what it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zorvik::serial::telnet {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

// COM-port commands as the client sends them; the server answers each with
// the same number plus kServerOffset.
enum class ComCommand : std::uint8_t {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Values of the commands this client sends.
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kParityOdd = 2;
inline constexpr std::uint8_t kParityEven = 3;
inline constexpr std::uint8_t kStopOne = 1;
inline constexpr std::uint8_t kStopTwo = 2;
inline constexpr std::uint8_t kControlNoFlow = 1;
inline constexpr std::uint8_t kPurgeReceive = 1;  // the server's buffer towards the device's reader
inline constexpr std::uint8_t kPurgeTransmit = 2;
inline constexpr std::uint8_t kPurgeBoth = 3;

// Appends data to out with every 0xFF doubled.
void append_escaped(Bytes& out, const std::uint8_t* data, std::size_t n);

// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
Bytes com_port_command(ComCommand command, const Bytes& value);
Bytes baud_rate_value(std::uint32_t baud);
// The rate in a SET-BAUDRATE answer; nothing when the value is not four bytes.
std::optional<std::uint32_t> baud_rate_of(const Bytes& value);

Bytes option_command(std::uint8_t verb, std::uint8_t option);

struct OptionCommand {
    std::uint8_t verb;  // kWill, kWont, kDo, kDont
    std::uint8_t option;
};
struct Subnegotiation {
    std::uint8_t option;
    Bytes payload;  // unescaped, without the option byte
};

// What one feed() found, in the order of the stream within each kind.
struct Decoded {
    Bytes data;
    std::vector<OptionCommand> commands;
    std::vector<Subnegotiation> subnegotiations;
};

// Splits the server's stream. Keeps its state between feeds, so a sequence
// cut anywhere by the network decodes the same. A subnegotiation longer than
// kMaxSubnegotiation is dropped whole; commands other than the four option
// verbs and SB (NOP, GA, ...) carry nothing here and are skipped.
class Decoder {
  public:
    static constexpr std::size_t kMaxSubnegotiation = 64;
    void feed(const std::uint8_t* p, std::size_t n, Decoded& out);

  private:
    enum class State { Data, Iac, Verb, SbOption, SbData, SbIac };
    void end_subnegotiation(Decoded& out);
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::uint8_t sb_option_ = 0;
    bool sb_overlong_ = false;
    Bytes sb_payload_;
};

// The client's side of the option negotiation: it offers COM-PORT-OPTION,
// BINARY and SUPPRESS-GO-AHEAD both ways, accepts those and refuses every
// other option, and answers a request only when it changes an option's
// state, so that two peers never loop.
class Negotiator {
  public:
    Negotiator();
    // The offers a client makes at once on connecting.
    Bytes opening() const;
    // The answer to one of the server's commands (possibly nothing).
    Bytes answer(const OptionCommand& command);
    // The server agreed to take COM-port commands (DO COM-PORT-OPTION).
    bool com_port_agreed() const { return com_port_agreed_; }
    // The server refused them (DONT COM-PORT-OPTION).
    bool com_port_refused() const { return com_port_refused_; }

  private:
    static bool wanted(std::uint8_t option);
    bool we_will_[256] = {};  // our side: offered or agreed, and not refused
    bool we_do_[256] = {};    // the server's side we asked for and it did not refuse
    bool com_port_agreed_ = false;
    bool com_port_refused_ = false;
};

}  // namespace zorvik::serial::telnet
