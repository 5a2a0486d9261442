#include "ReceiverLink.h"

#include "CliSupport.h"
#include "PortProblem.h"

namespace cli {

ParseNMEAInfo StateRecord() {
    ParseNMEAInfo info{};
    GetParseNMEAInfo(&info);
    return info;
}

Seconds SecondsOption(double seconds) {
    return Seconds(seconds > 0 ? seconds : 0);
}

ReceiverLink::ReceiverLink(std::string port_name, std::string baud_text)
    : port_name_(std::move(port_name)), baud_text_(std::move(baud_text)) {
    Open();
}

ReceiverLink::~ReceiverLink() {
    COM_Close();
}

void ReceiverLink::Open() {
    const int handle = COM_Open(port_name_.c_str(), baud_text_.c_str());
    if (handle == 0) {
        handle_ = zorvik::serial::kInvalidHandle;
        throw Failure(CannotOpenPortText(port_name_));
    }
    handle_ = handle;
    bytes_.reset();
    line_.reset();
    raw_.clear();
}

void ReceiverLink::Reopen(const std::string& baud_text) {
    COM_Close();
    baud_text_ = baud_text;
    Open();
}

Next ReceiverLink::Feed(std::uint8_t byte, const SentenceHandler& on_sentence) {
    if (byte == '$') raw_.clear();
    const LineAssembler::Result result = line_.feed(byte);
    if (result == LineAssembler::Result::Overflow) {
        // An over-long line is dropped whole; the next '$' starts afresh.
        raw_.clear();
        return Next::Continue;
    }
    if (line_.started() || result == LineAssembler::Result::Line)
        raw_.push_back(static_cast<char>(byte));
    if (result != LineAssembler::Result::Line) return Next::Continue;

    const std::string_view text(line_.line());
    if (before_parse_) before_parse_(text);
    ParseNMEA(line_.line());
    const Next next = on_sentence ? on_sentence(Sentence{raw_, text}) : Next::Continue;
    line_.release_line();
    raw_.clear();
    return next;
}

std::string ReceiverLink::DeviceGoneText() const {
    return "Lost " + port_name_ + " port: the device is gone";
}

bool ReceiverLink::Pump(Seconds timeout, const SentenceHandler& on_sentence,
                        const IdleHandler& on_idle) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    while (Clock::now() < deadline && !Interrupted()) {
        if (GetComPort_connected_Status() != 1) throw Failure(DeviceGoneText());
        std::uint8_t byte = 0;
        const int got = bytes_.read_byte(handle_, byte);
        // The serial layer reports a hung-up or vanished device as a failed read.
        if (got < 0) throw Failure(DeviceGoneText());
        if (got == 0) {
            if (on_idle && on_idle() == Next::Stop) return true;
            continue;
        }
        if (Feed(byte, on_sentence) == Next::Stop) return true;
    }
    return false;
}

bool ReceiverLink::WaitFor(Seconds timeout, const std::function<bool(const ParseNMEAInfo&)>& done) {
    if (done(StateRecord())) return true;
    return Pump(timeout,
                [&](const Sentence&) { return done(StateRecord()) ? Next::Stop : Next::Continue; });
}

void ReceiverLink::DiscardReceived() {
    bytes_.purge(handle_, zorvik::serial::kPurgeRxClear);
    line_.reset();
    raw_.clear();
}

}  // namespace cli
