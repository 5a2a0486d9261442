// Making sure the receiver speaks before anything is claimed: valid
// (checksummed) sentences at the given rate, the rate found by listening
// (-b auto), and the silence that ends monitor and record.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "CliSupport.h"
#include "ReceiverLink.h"

namespace cli {

// The rates -b auto listens at, most common first.
inline constexpr std::array<const char*, 6> kAutoRateOrder{"9600",  "115200", "38400",
                                                           "57600", "19200",  "4800"};
inline constexpr const char* kAutoRate = "auto";

// The receiver sends one epoch of sentences a second.
inline constexpr Seconds kEpoch{1.0};

// A complete sentence whose address is letters and digits and whose checksum
// holds (the link module's rule, on the bytes as received): what a receiver
// at the right rate sends, and what line noise at a wrong rate does not.
bool IsValidSentence(const Sentence& sentence);

// The line for a receiver that sent no valid sentence within the time.
std::string NoSentencesText(const std::string& port, const std::string& baud, Seconds waited);

// How long to listen at one rate before concluding that nothing valid comes:
// an epoch and the longest sentence at that rate, never above the timeout.
Seconds ListenWindow(const std::string& baud, Seconds timeout);

// Reads until a valid sentence arrives (true) or `wait` has passed; what
// arrived before the call does not count.
bool HearsValidSentence(ReceiverLink& link, Seconds wait);

// "No valid NMEA sentences from the receiver on PORT at any rate of ... bps".
std::string NoSentencesAtAnyRateText(const std::string& port);

// -b auto heard no valid sentence at any rate (the port itself opened).
class NoReceiverAtAnyRate : public Failure {
  public:
    using Failure::Failure;
};

// The port opened at the session's rate, once valid sentences arrive there
// within the timeout; with -b auto, at the first rate of kAutoRateOrder at
// which they do (said on standard error). Throws Failure otherwise
// (NoReceiverAtAnyRate when -b auto found none).
std::unique_ptr<ReceiverLink> OpenReceiver(const Session& session);

// The port at the session's rate without waiting for sentences; with -b auto
// as OpenReceiver.
std::unique_ptr<ReceiverLink> OpenAtRate(const Session& session);

// Ends a listening command when no valid sentence has arrived for the
// timeout; a stop signal ends it as well.
class SilenceWatch {
  public:
    SilenceWatch(const ReceiverLink& link, Seconds limit)
        : link_(link), limit_(limit), started_(Clock::now()), last_heard_(started_) {}
    void Heard(const Sentence& sentence);
    // Throws Failure once the line has been silent for the limit.
    void Check() const;
    // Throws Failure when no valid sentence came at all (a run shorter than the limit).
    void RequireHeard() const;

  private:
    const ReceiverLink& link_;
    Seconds limit_;
    Clock::time_point started_;
    Clock::time_point last_heard_;
    bool heard_ = false;
};

// Reads for `duration` in slices, checking the silence between them; returns
// true when a handler stopped it. Ends early on a stop signal.
bool PumpWatched(ReceiverLink& link, SilenceWatch& watch, Seconds duration,
                 const ReceiverLink::SentenceHandler& on_sentence,
                 const ReceiverLink::IdleHandler& on_idle = nullptr);

}  // namespace cli
