#include "telnet.h"

namespace zorvik::serial::telnet {

namespace {

constexpr std::uint8_t kOffered[] = {kOptionComPort, kOptionBinary, kOptionSuppressGoAhead};
constexpr std::size_t kBaudValueSize = 4;

}  // namespace

void append_escaped(Bytes& out, const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
}

Bytes com_port_command(ComCommand command, const Bytes& value) {
    Bytes out{kIac, kSb, kOptionComPort};
    const auto code = static_cast<std::uint8_t>(command);
    append_escaped(out, &code, 1);
    append_escaped(out, value.data(), value.size());
    out.push_back(kIac);
    out.push_back(kSe);
    return out;
}

Bytes baud_rate_value(std::uint32_t baud) {
    return {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
            static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
}

std::optional<std::uint32_t> baud_rate_of(const Bytes& value) {
    if (value.size() != kBaudValueSize) return std::nullopt;
    std::uint32_t baud = 0;
    for (std::uint8_t b : value) baud = (baud << 8) | b;
    return baud;
}

Bytes option_command(std::uint8_t verb, std::uint8_t option) {
    return {kIac, verb, option};
}

void Decoder::end_subnegotiation(Decoded& out) {
    if (!sb_overlong_) out.subnegotiations.push_back({sb_option_, sb_payload_});
    sb_payload_.clear();
    sb_overlong_ = false;
}

void Decoder::feed(const std::uint8_t* p, std::size_t n, Decoded& out) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = p[i];
        switch (state_) {
            case State::Data:
                if (b == kIac)
                    state_ = State::Iac;
                else
                    out.data.push_back(b);
                break;
            case State::Iac:
                if (b == kIac) {
                    out.data.push_back(kIac);
                    state_ = State::Data;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::Verb;
                } else if (b == kSb) {
                    state_ = State::SbOption;
                } else {
                    state_ = State::Data;  // a command without an option
                }
                break;
            case State::Verb:
                out.commands.push_back({verb_, b});
                state_ = State::Data;
                break;
            case State::SbOption:
                sb_option_ = b;
                sb_payload_.clear();
                sb_overlong_ = false;
                state_ = State::SbData;
                break;
            case State::SbData:
                if (b == kIac) {
                    state_ = State::SbIac;
                } else if (sb_payload_.size() < kMaxSubnegotiation) {
                    sb_payload_.push_back(b);
                } else {
                    sb_overlong_ = true;
                }
                break;
            case State::SbIac:
                if (b == kIac) {
                    if (sb_payload_.size() < kMaxSubnegotiation)
                        sb_payload_.push_back(kIac);
                    else
                        sb_overlong_ = true;
                    state_ = State::SbData;
                } else if (b == kSe) {
                    end_subnegotiation(out);
                    state_ = State::Data;
                } else {
                    // A command inside a subnegotiation: the server broke it off.
                    sb_payload_.clear();
                    sb_overlong_ = false;
                    state_ = State::Data;
                }
                break;
        }
    }
}

bool Negotiator::wanted(std::uint8_t option) {
    for (std::uint8_t o : kOffered)
        if (o == option) return true;
    return false;
}

Negotiator::Negotiator() {
    // The opening's offers count as made.
    for (std::uint8_t o : kOffered) {
        we_will_[o] = true;
        we_do_[o] = o != kOptionComPort;
    }
}

Bytes Negotiator::opening() const {
    Bytes out;
    for (std::uint8_t o : kOffered) {
        const Bytes will = option_command(kWill, o);
        out.insert(out.end(), will.begin(), will.end());
        if (o == kOptionComPort) continue;  // the server's side of it means nothing
        const Bytes want = option_command(kDo, o);
        out.insert(out.end(), want.begin(), want.end());
    }
    return out;
}

Bytes Negotiator::answer(const OptionCommand& command) {
    const std::uint8_t o = command.option;
    switch (command.verb) {
        case kDo:
            if (o == kOptionComPort) com_port_agreed_ = true;
            if (!wanted(o)) return option_command(kWont, o);
            if (we_will_[o]) return {};
            we_will_[o] = true;
            return option_command(kWill, o);
        case kDont:
            if (o == kOptionComPort) com_port_refused_ = true;
            if (!we_will_[o]) return {};
            we_will_[o] = false;
            return option_command(kWont, o);
        case kWill:
            if (!wanted(o)) return option_command(kDont, o);
            if (we_do_[o]) return {};
            we_do_[o] = true;
            return option_command(kDo, o);
        case kWont:
            if (!we_do_[o]) return {};
            we_do_[o] = false;
            return option_command(kDont, o);
        default:
            return {};
    }
}

}  // namespace zorvik::serial::telnet
