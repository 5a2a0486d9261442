#include "EpochCollector.h"

#include <charconv>
#include <string_view>

#include "SentenceCheck.h"

namespace zorvik::link {

struct EpochCollector::Sentence {
    std::optional<Kind> kind;  // none: no part of an epoch (replies, other talkers)
    std::string time;          // RMC and GGA
    int gsv_total = 0;
    int gsv_number = 0;
};

namespace {

// Field n of a sentence (0 is the address), up to its ',' or '*'.
std::string_view Field(std::string_view text, int n) {
    std::size_t begin = 0;
    for (int i = 0; i < n; ++i) {
        begin = text.find(',', begin);
        if (begin == std::string_view::npos) return {};
        ++begin;
    }
    const std::size_t end = text.find_first_of(",*", begin);
    return text.substr(begin, end == std::string_view::npos ? text.size() - begin : end - begin);
}

int FieldNumber(std::string_view text, int n) {
    const std::string_view field = Field(text, n);
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() ? value : 0;
}

std::optional<Kind> KindOf(std::string_view text) {
    const std::string_view address = Field(text, 0);
    if (address == "$GPRMC") return Kind::Rmc;
    if (address == "$GPGGA") return Kind::Gga;
    if (address == "$GPGSA") return Kind::Gsa;
    if (address == "$GPGSV") return Kind::Gsv;
    return std::nullopt;
}

bool Fresh(const std::optional<SteadyClock::time_point>& heard, SteadyClock::time_point now) {
    return heard && now - *heard <= kStaleAfter;
}

}  // namespace

bool EpochCollector::Take(const Line& line, SteadyClock::time_point now) {
    if (!ChecksumHolds(line.raw)) {
        std::lock_guard lock(mutex_);
        ++pending_dropped_;
        return false;
    }
    Sentence s;
    s.kind = KindOf(line.text);
    if (s.kind == Kind::Rmc || s.kind == Kind::Gga) s.time = Field(line.text, 1);
    if (s.kind == Kind::Gsv) {
        s.gsv_total = FieldNumber(line.text, 1);
        s.gsv_number = FieldNumber(line.text, 2);
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
        // The record still holds the epoch that this sentence ends.
        if (s.kind && StartsNewEpochLocked(s)) {
            PublishLocked();
            BeginLocked(true);
        }
    }
    ParseNMEA(line.text);
    std::lock_guard lock(mutex_);
    if (s.kind && generation == generation_) NoteLocked(s, now);
    return true;
}

void EpochCollector::LineQuiet() {
    std::lock_guard lock(mutex_);
    if (current_.number == 0) {
        quiet_before_ = true;
        return;
    }
    current_.checksum_dropped += pending_dropped_;
    pending_dropped_ = 0;
    PublishLocked();
}

void EpochCollector::Reset() {
    std::lock_guard lock(mutex_);
    ++generation_;
    current_ = {};
    quiet_before_ = false;
    pending_dropped_ = 0;
    epochs_begun_ = 0;
    published_.reset();
    sky_.reset();
    heard_rmc_.reset();
    heard_gga_.reset();
    heard_gsa_.reset();
    heard_sky_.reset();
}

std::optional<Epoch> EpochCollector::TakePublished() {
    std::lock_guard lock(mutex_);
    std::optional<Epoch> taken = std::move(published_);
    published_.reset();
    return taken;
}

std::optional<Epoch> EpochCollector::TakeSky() {
    std::lock_guard lock(mutex_);
    std::optional<Epoch> taken = std::move(sky_);
    sky_.reset();
    return taken;
}

Freshness EpochCollector::FreshAt(SteadyClock::time_point now) const {
    std::lock_guard lock(mutex_);
    return {Fresh(heard_rmc_, now), Fresh(heard_gga_, now), Fresh(heard_gsa_, now),
            Fresh(heard_sky_, now)};
}

// No epoch holds two sentences of one kind, nor two times.
bool EpochCollector::StartsNewEpochLocked(const Sentence& s) const {
    if (current_.number == 0) return false;
    const auto has = [&](Kind kind) { return (current_.kinds & static_cast<unsigned>(kind)) != 0; };
    switch (*s.kind) {
        case Kind::Rmc:
        case Kind::Gga:
            return has(*s.kind) ||
                   (!s.time.empty() && !current_.time.empty() && s.time != current_.time);
        case Kind::Gsa:
            return has(Kind::Gsa);
        case Kind::Gsv:
            return s.gsv_number == 1 && current_.gsv_begun;
    }
    return false;
}

void EpochCollector::BeginLocked(bool whole) {
    current_ = {};
    current_.whole = whole;
    current_.number = ++epochs_begun_;
}

void EpochCollector::NoteLocked(const Sentence& s, SteadyClock::time_point now) {
    if (current_.number == 0) BeginLocked(quiet_before_);
    Current& c = current_;
    c.checksum_dropped += pending_dropped_;
    pending_dropped_ = 0;
    c.changed = true;
    c.last_heard = now;
    c.kinds |= static_cast<unsigned>(*s.kind);
    switch (*s.kind) {
        case Kind::Rmc:
            heard_rmc_ = now;
            break;
        case Kind::Gga:
            heard_gga_ = now;
            break;
        case Kind::Gsa:
            heard_gsa_ = now;
            return;
        case Kind::Gsv:
            // Only the group's last message, after all the others, makes it whole.
            c.kinds &= ~static_cast<unsigned>(Kind::Gsv);
            if (s.gsv_number == 1) {
                c.gsv_begun = true;
                c.gsv_total = s.gsv_total;
                c.gsv_next = 1;
            }
            if (s.gsv_number >= 1 && s.gsv_number == c.gsv_next && s.gsv_total == c.gsv_total) {
                c.gsv_next = s.gsv_number == c.gsv_total ? 0 : c.gsv_next + 1;
                if (s.gsv_number == c.gsv_total) c.kinds |= static_cast<unsigned>(Kind::Gsv);
            } else {
                c.gsv_next = 0;
            }
            return;
    }
    if (!s.time.empty()) c.time = s.time;
}

void EpochCollector::PublishLocked() {
    if (!current_.changed) return;
    Epoch e;
    e.kinds = current_.kinds;
    e.checksum_dropped = current_.checksum_dropped;
    e.whole = current_.whole;
    e.number = current_.number;
    if (e.HasSky()) {
        // Derived now, while the library's table is still this epoch's.
        GetChStatus();
        sort_sv_cn();
    }
    GetParseNMEAInfo(&e.record);
    if (e.HasSky()) {
        sky_ = e;
        heard_sky_ = current_.last_heard;
    }
    published_ = std::move(e);
    current_.changed = false;
}

}  // namespace zorvik::link
