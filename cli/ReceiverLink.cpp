#include "ReceiverLink.h"

#include "BaudChange.h"
#include "CliSupport.h"
#include "OpenFailureText.h"
#include "PortLink.h"

namespace cli {

namespace link = zorvik::link;

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
    Opened(link::OpenPort(port_name_, baud_text_));
}

ReceiverLink::~ReceiverLink() {
    link::ClosePort();
}

void ReceiverLink::Opened(const link::OpenResult& result) {
    handle_ = result.handle;
    reader_.Reset();
    epochs_.Reset();
    if (!result.ok()) throw Failure(link::CommandLineOpenFailureText(port_name_, result.failure));
}

void ReceiverLink::FollowRateChange(const std::string& baud_text) {
    link::LeaveOldRate();
    baud_text_ = baud_text;
    Opened(link::OpenAtNewRate(port_name_, baud_text_));
}

bool ReceiverLink::Pump(Seconds timeout, const SentenceHandler& on_sentence,
                        const IdleHandler& on_idle) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    const std::string gone = link::LostPortText(port_name_);
    link::ReadLoop loop;
    loop.stop = [&] { return Clock::now() >= deadline || Interrupted(); };
    loop.handle = [this] { return static_cast<zorvik::serial::Handle>(handle_); };
    loop.on_line = [&](const link::Line& line) {
        const std::string_view text(line.text);
        epochs_.Take(line);
        return on_sentence ? on_sentence(Sentence{line.raw, text}) : Next::Continue;
    };
    // The library closes a port whose device went away; the serial layer
    // reports a hung-up device as a failed read.
    loop.on_event = [&](link::Event event) {
        if (event != link::Event::Quiet) throw Failure(gone);
        epochs_.LineQuiet();
        return on_idle ? on_idle() : Next::Continue;
    };
    return link::RunReadLoop(reader_, loop);
}

bool ReceiverLink::WaitFor(Seconds timeout, const std::function<bool(const ParseNMEAInfo&)>& done) {
    if (done(StateRecord())) return true;
    return Pump(timeout,
                [&](const Sentence&) { return done(StateRecord()) ? Next::Stop : Next::Continue; });
}

void ReceiverLink::Reopen(const std::string& baud_text) {
    baud_text_ = baud_text;
    Opened(link::ReopenPort(port_name_, baud_text_));
}

void ReceiverLink::DiscardReceived() {
    zorvik::serial::purge(static_cast<zorvik::serial::Handle>(handle_),
                          zorvik::serial::kPurgeRxClear);
    reader_.Reset();
    epochs_.Reset();
}

}  // namespace cli
