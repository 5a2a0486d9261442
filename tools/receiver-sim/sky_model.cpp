#include "sky_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

constexpr double kPi = std::numbers::pi;
// The 3D fix follows the 2D one by this many simulated seconds.
constexpr double kTwoDToThreeD = 3.0;

}  // namespace

double SkyModel::nominal_ttff(StartKind kind) {
    switch (kind) {
        case StartKind::PowerOn:
            return 4.0;
        case StartKind::Cold:
            return 35.0;
        case StartKind::Warm:
            return 25.0;
        case StartKind::Hot:
            return 3.0;
        case StartKind::SingleChannelExit:
            return 3.0;
    }
    return 35.0;
}

SkyModel::SkyModel(std::uint32_t seed, double time_scale, double start_time)
    : rng_(seed),
      scale_(time_scale > 0 ? time_scale : 1.0),
      origin_time_(start_time),
      start_time_(start_time) {
    std::uniform_int_distribution<int> count_dist(8, 12);
    std::uniform_int_distribution<int> sbas_dist(1, 2);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int total = count_dist(rng_);
    const int sbas = sbas_dist(rng_);

    std::vector<int> gps(32);
    for (int i = 0; i < 32; ++i) gps[i] = i + 1;
    std::shuffle(gps.begin(), gps.end(), rng_);
    static constexpr int kSbas[] = {33, 37, 39, 44, 46, 48, 51};  // NMEA numbers of SBAS PRNs
    std::vector<int> sbas_pool(std::begin(kSbas), std::end(kSbas));
    std::shuffle(sbas_pool.begin(), sbas_pool.end(), rng_);

    for (int i = 0; i < total; ++i) {
        Satellite s{};
        const bool is_sbas = i >= total - sbas;
        s.prn = is_sbas ? sbas_pool[i - (total - sbas)] : gps[i];
        s.elevation0 = is_sbas ? 25 + 20 * unit(rng_) : 3 + 82 * unit(rng_);
        s.azimuth0 = 360 * unit(rng_);
        s.azimuth_rate = is_sbas ? 0.0 : (0.02 + 0.08 * unit(rng_)) * (unit(rng_) < 0.5 ? -1 : 1);
        s.elevation_phase = 2 * kPi * unit(rng_);
        s.acquire_fraction = 0.35 + 0.6 * unit(rng_);
        sats_.push_back(s);
    }
    // Real receivers list an SBAS satellite before its position is known, and
    // keep searching for a satellite they do not yet track.
    sats_.back().position_unknown = true;
    sats_.front().never_tracked = true;
    // The other satellites keep a minimum elevation so that enough of them are
    // tracked for a 3D fix.
    for (std::size_t i = 1; i + sbas < sats_.size() && i <= 5; ++i)
        sats_[i].elevation0 = std::max(sats_[i].elevation0, 30.0);

    latitude0_ = 47.3 + 0.2 * unit(rng_);
    longitude0_ = 8.4 + 0.2 * unit(rng_);
    altitude0_ = 420 + 40 * unit(rng_);

    restart(StartKind::PowerOn, start_time);
}

void SkyModel::restart(StartKind kind, double now) {
    kind_ = kind;
    start_time_ = now;
    std::uniform_real_distribution<double> jitter(-0.15, 0.15);
    ttff_ = nominal_ttff(kind) * (1.0 + jitter(rng_));
    ttff_reported_ = kind == StartKind::PowerOn || kind == StartKind::SingleChannelExit;
}

void SkyModel::set_single_channel(std::optional<int> prn, double now) {
    const bool was = single_prn_.has_value();
    single_prn_ = prn;
    if (was && !prn) restart(StartKind::SingleChannelExit, now);
}

FixKind SkyModel::fix_at(double now) const {
    if (single_prn_) return FixKind::None;
    const double t = simulated_since_start(now);
    if (t < ttff_) return FixKind::None;
    if (t < ttff_ + kTwoDToThreeD) return FixKind::TwoD;
    return FixKind::ThreeD;
}

std::optional<double> SkyModel::take_ttff(double now) {
    if (ttff_reported_ || fix_at(now) == FixKind::None) return std::nullopt;
    ttff_reported_ = true;
    return std::round(ttff_ * 10.0) / 10.0;
}

Epoch SkyModel::epoch(double now, long long utc_seconds, int utc_millis) {
    Epoch e;
    const long long days = utc_seconds >= 0 ? utc_seconds / 86400 : (utc_seconds - 86399) / 86400;
    const long long sod = utc_seconds - days * 86400;
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    {
        long long z = days + 719468;
        const long long era = (z >= 0 ? z : z - 146096) / 146097;
        const long long doe = z - era * 146097;
        const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const long long mp = (5 * doy + 2) / 153;
        e.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        e.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        e.year = static_cast<int>(yoe + era * 400 + (e.month <= 2 ? 1 : 0));
    }
    e.hour = static_cast<int>(sod / 3600);
    e.minute = static_cast<int>(sod / 60 % 60);
    e.second = static_cast<int>(sod % 60);
    e.millisecond = utc_millis;

    const double run = now - origin_time_;  // real seconds since the simulator's start
    // A slow walk: about 1.5 knots on a heading that turns gently.
    const double heading = std::fmod(40.0 + run * 0.5, 360.0);
    const double metres = run * 0.77;
    e.latitude = latitude0_ + metres * std::cos(heading * kPi / 180) / 111320.0 * 0.3 +
                 0.00002 * std::sin(run / 30);
    e.longitude = longitude0_ + metres / 111320.0 * 0.3 * std::sin(run / 200);
    e.altitude = altitude0_ + 2.0 * std::sin(run / 45);
    e.geoid_separation = 48.0;
    e.fix = fix_at(now);
    e.speed_knots = e.fix == FixKind::None ? 0.0 : 1.5 + 0.3 * std::sin(run / 20);
    e.course = e.fix == FixKind::None ? 0.0 : heading;

    const double t = simulated_since_start(now);
    const bool lost_sky = kind_ == StartKind::Cold || kind_ == StartKind::Warm;
    std::normal_distribution<double> noise(0.0, 1.0);

    if (single_prn_) {
        SatelliteView v;
        v.prn = *single_prn_;
        for (const Satellite& s : sats_) {
            if (s.prn != *single_prn_) continue;
            const double el =
                std::clamp(s.elevation0 + 6 * std::sin(run / 600 + s.elevation_phase), 1.0, 89.0);
            v.elevation = static_cast<int>(el);
            v.azimuth = static_cast<int>(std::fmod(s.azimuth0 + s.azimuth_rate * run + 360, 360));
            v.snr = std::clamp(static_cast<int>(20 + el * 0.33 + noise(rng_)), 15, 55);
        }
        e.satellites.push_back(v);
        return e;
    }

    if (lost_sky && t < 0.25 * ttff_) return e;  // nothing in view yet after cold/warm start

    for (const Satellite& s : sats_) {
        SatelliteView v;
        v.prn = s.prn;
        const double el =
            std::clamp(s.elevation0 + 6 * std::sin(run / 600 + s.elevation_phase), 1.0, 89.0);
        const double az = std::fmod(s.azimuth0 + s.azimuth_rate * run + 3600, 360);
        if (!s.position_unknown) {
            v.elevation = static_cast<int>(el);
            v.azimuth = static_cast<int>(az);
        }
        const bool acquired = !lost_sky || t >= s.acquire_fraction * ttff_;
        if (!s.never_tracked && acquired && el >= 8)
            v.snr = std::clamp(static_cast<int>(std::lround(18 + el * 0.35 + noise(rng_))), 10, 52);
        e.satellites.push_back(v);
    }

    if (e.fix != FixKind::None) {
        for (const SatelliteView& v : e.satellites)
            if (v.prn <= 32 && v.snr && *v.snr >= 25 && e.used.size() < 12) e.used.push_back(v.prn);
        const double n = static_cast<double>(std::max<std::size_t>(e.used.size(), 3));
        e.hdop = std::round((0.6 + 6.0 / n) * 10) / 10;
        e.vdop = std::round((0.9 + 8.0 / n) * 10) / 10;
        e.pdop = std::round(std::sqrt(e.hdop * e.hdop + e.vdop * e.vdop) * 10) / 10;
    }
    return e;
}

}  // namespace sim
