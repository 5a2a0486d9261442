#include "RateProbe.h"

#include <algorithm>
#include <cctype>

#include "BaudChange.h"
#include "DisplayFormats.h"
#include "SentenceCheck.h"

namespace cli {

namespace DisplayFormats = zorvik::link::DisplayFormats;

namespace {

// The shortest address a sentence carries ("GPRMC", "PKVX100").
constexpr std::size_t kMinAddress = 5;
// NMEA 0183's longest sentence with "$" and the line end, at 10 bits a byte.
constexpr double kLongestSentenceBits = 82 * 10;
// Room for the port's open and a loaded machine.
constexpr Seconds kListenSlack{0.25};
// How often a watched read looks at the silence.
constexpr Seconds kWatchSlice{0.25};

std::string AutoRateList() {
    std::string list;
    for (const char* rate : kAutoRateOrder) list += (list.empty() ? "" : ", ") + std::string(rate);
    return list;
}

}  // namespace

bool IsValidSentence(const Sentence& sentence) {
    const std::string_view text = sentence.raw.substr(0, sentence.raw.find_first_of("\r\n"));
    if (text.empty() || text.front() != '$') return false;
    const auto comma = text.find(',');
    if (comma == std::string_view::npos || comma - 1 < kMinAddress) return false;
    const bool address_ok = std::all_of(text.begin() + 1, text.begin() + comma, [](char c) {
        return std::isupper(static_cast<unsigned char>(c)) ||
               std::isdigit(static_cast<unsigned char>(c));
    });
    return address_ok && zorvik::link::ChecksumHolds(sentence.raw);
}

std::string NoSentencesText(const std::string& port, const std::string& baud, Seconds waited) {
    return "No valid NMEA sentences from the receiver on " + port + " at " + baud + " bps for " +
           DisplayFormats::GeneralText(waited.count()) +
           " s: the rate may be wrong (-b auto finds it), or the receiver is silent or in its "
           "boot loader";
}

Seconds ListenWindow(const std::string& baud, Seconds timeout) {
    const double rate = DisplayFormats::number(baud);
    const Seconds sentence{rate > 0 ? kLongestSentenceBits / rate : 0.0};
    return std::min(timeout, kEpoch + sentence + kListenSlack);
}

bool HearsValidSentence(ReceiverLink& link, Seconds wait) {
    link.DiscardReceived();
    return link.Pump(
        wait, [](const Sentence& s) { return IsValidSentence(s) ? Next::Stop : Next::Continue; });
}

std::string NoSentencesAtAnyRateText(const std::string& port) {
    return "No valid NMEA sentences from the receiver on " + port + " at any rate of " +
           AutoRateList() + " bps";
}

std::unique_ptr<ReceiverLink> OpenReceiver(const Session& session) {
    const Seconds timeout = SecondsOption(session.timeout);
    // A raw network port's rate is the device server's: there is none to search.
    if (session.baud != kAutoRate || !zorvik::link::RateFollows(session.port)) {
        auto link = std::make_unique<ReceiverLink>(session.port, session.baud);
        if (HearsValidSentence(*link, timeout)) return link;
        ThrowIfStopped("Listening for the receiver");
        throw Failure(NoSentencesText(session.port, session.baud, timeout));
    }
    auto link = std::make_unique<ReceiverLink>(session.port, kAutoRateOrder.front());
    for (const char* rate : kAutoRateOrder) {
        if (link->BaudText() != rate) link->Reopen(rate);
        if (HearsValidSentence(*link, ListenWindow(rate, timeout))) {
            Notice(session, std::string("receiver found at ") + rate + " bps");
            return link;
        }
        ThrowIfStopped("Looking for the receiver's rate");
    }
    throw NoReceiverAtAnyRate(NoSentencesAtAnyRateText(session.port) +
                              ": is it connected and powered, or in its boot loader?");
}

std::unique_ptr<ReceiverLink> OpenAtRate(const Session& session) {
    if (session.baud == kAutoRate) return OpenReceiver(session);
    auto link = std::make_unique<ReceiverLink>(session.port, session.baud);
    link->DiscardReceived();
    return link;
}

void SilenceWatch::Heard(const Sentence& sentence) {
    if (!IsValidSentence(sentence)) return;
    last_heard_ = Clock::now();
    heard_ = true;
}

void SilenceWatch::RequireHeard() const {
    if (!heard_)
        throw Failure(NoSentencesText(link_.PortName(), link_.BaudText(), Clock::now() - started_));
}

void SilenceWatch::Check() const {
    if (Clock::now() - last_heard_ >= limit_)
        throw Failure(NoSentencesText(link_.PortName(), link_.BaudText(), limit_));
}

bool PumpWatched(ReceiverLink& link, SilenceWatch& watch, Seconds duration,
                 const ReceiverLink::SentenceHandler& on_sentence,
                 const ReceiverLink::IdleHandler& on_idle) {
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(duration);
    const auto heard = [&](const Sentence& s) {
        watch.Heard(s);
        return on_sentence ? on_sentence(s) : Next::Continue;
    };
    while (!StopRequested()) {
        const Seconds left = end - Clock::now();
        if (left <= Seconds::zero()) return false;
        if (link.Pump(std::min(left, kWatchSlice), heard, on_idle)) return true;
        watch.Check();
    }
    return false;
}

}  // namespace cli
