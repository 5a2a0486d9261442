// The sentences of one epoch, gathered on the reader's thread so that what is
// shown together was sent together: the program's live view and zorvik
// monitor take from here the time, position, DOPs and satellites of one
// epoch, and learn how long ago each kind of sentence last arrived intact.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "LineReader.h"
#include "ZorvikDll.h"

namespace zorvik::link {

using SteadyClock = std::chrono::steady_clock;

// A value whose sentence has not arrived intact for longer than this is no
// longer current. The receiver sends an epoch a second; a few lost in a row
// is a line that stopped delivering.
inline constexpr std::chrono::seconds kStaleAfter{3};

// The sentence kinds an epoch is made of. Gsv stands for a whole GSV group:
// messages 1 to n of one group, in order, none lost.
enum class Kind : unsigned { Rmc = 1, Gga = 2, Gsa = 4, Gsv = 8 };

struct Epoch {
    // The state record as this epoch's sentences left it. Values of a kind
    // missing from `kinds` are older than the epoch and must not be shown as
    // its own. With a sky, ch_status and the PRN-sorted columns belong to
    // this epoch's channel table.
    ParseNMEAInfo record{};
    unsigned kinds = 0;
    int checksum_dropped = 0;  // lines dropped for a missing or wrong checksum
    bool whole = false;        // its beginning was heard (not the tail of one cut by the open)
    std::uint64_t number = 0;  // counts epochs from 1 since the last Reset

    bool Has(Kind kind) const { return (kinds & static_cast<unsigned>(kind)) != 0; }
    // A complete GSV group with the GSA of the same epoch.
    bool HasSky() const { return Has(Kind::Gsv) && Has(Kind::Gsa); }
};

// Which field groups arrived intact within kStaleAfter.
struct Freshness {
    bool rmc = false;
    bool gga = false;
    bool gsa = false;
    bool sky = false;  // a complete GSV group with its GSA
};

// Thread-safe: the reader calls Take and LineQuiet, the display Reset, the
// Take... functions and FreshAt. Lock order: this collector, then the
// library's state record.
class EpochCollector {
  public:
    // The road of one received line into the library: ParseNMEA only when
    // the checksum holds (ChecksumHolds). A sentence that begins the next
    // epoch first closes the current one. Returns true when it was parsed.
    bool Take(const Line& line, SteadyClock::time_point now = SteadyClock::now());
    // The line was quiet for a read time-out: the epoch so far is published.
    // It stays open for a late sentence of its own, and is then published again.
    void LineQuiet();
    // A new link, or the end of one: nothing heard, nothing published.
    void Reset();

    // The epoch last published, once per publication.
    std::optional<Epoch> TakePublished();
    // The newest published epoch with a sky, once.
    std::optional<Epoch> TakeSky();
    Freshness FreshAt(SteadyClock::time_point now) const;

  private:
    struct Sentence;
    struct Current {
        unsigned kinds = 0;
        int checksum_dropped = 0;
        std::string time;        // hhmmss of its RMC or GGA
        bool gsv_begun = false;  // a GSV message 1 came in this epoch
        int gsv_total = 0;
        int gsv_next = 0;  // the message number that continues the group; 0 when broken
        bool whole = false;
        bool changed = false;  // something joined since the last publication
        std::uint64_t number = 0;
        SteadyClock::time_point last_heard{};
    };

    bool StartsNewEpochLocked(const Sentence& s) const;
    void NoteLocked(const Sentence& s, SteadyClock::time_point now);
    void BeginLocked(bool whole);
    void PublishLocked();

    mutable std::mutex mutex_;
    std::uint64_t generation_ = 0;  // bumped by Reset: a Take across it adds nothing
    Current current_;
    bool empty_ = true;          // no sentence in the current epoch yet
    bool quiet_before_ = false;  // the line was quiet before the current epoch began
    int pending_dropped_ = 0;    // failed lines not yet given to an epoch
    std::uint64_t epochs_begun_ = 0;
    std::optional<Epoch> published_;
    std::optional<Epoch> sky_;
    std::optional<SteadyClock::time_point> heard_rmc_, heard_gga_, heard_gsa_, heard_sky_;
};

}  // namespace zorvik::link
