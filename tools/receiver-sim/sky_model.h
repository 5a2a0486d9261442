// A simple sky: 8 to 12 satellites (one or two of them SBAS) whose elevation
// and azimuth drift, C/N0 that rises with elevation, a fix that goes from none
// to 2D to 3D after every start, and a position that moves slowly.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace sim {

enum class FixKind { None = 1, TwoD = 2, ThreeD = 3 };
enum class StartKind { PowerOn, Cold, Warm, Hot, SingleChannelExit };

struct SatelliteView {
    int prn = 0;  // NMEA number: 1..32 GPS, 33..64 SBAS
    std::optional<int> elevation;
    std::optional<int> azimuth;
    std::optional<int> snr;
};

struct Epoch {
    // UTC of the epoch.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    double latitude = 0, longitude = 0;  // degrees, north and east positive
    double altitude = 0;                 // metres above mean sea level
    double geoid_separation = 0;         // metres
    double speed_knots = 0, course = 0;  // course in degrees true
    FixKind fix = FixKind::None;
    std::vector<SatelliteView> satellites;  // at most 12, in channel order
    std::vector<int> used;                  // PRNs in the fix, at most 12
    double pdop = 0, hdop = 0, vdop = 0;
};

class SkyModel {
  public:
    // time_scale multiplies every simulated duration (TTFFs, fix progression).
    SkyModel(std::uint32_t seed, double time_scale, double start_time);

    // A restart at real time now (seconds on the simulator's monotonic clock).
    void restart(StartKind kind, double now);
    // Track only satellite prn (single channel mode); nullopt leaves the mode.
    void set_single_channel(std::optional<int> prn, double now);
    bool single_channel() const { return single_prn_.has_value(); }

    // The epoch at real time now; utc_seconds/utc_millis give the time stamp.
    Epoch epoch(double now, long long utc_seconds, int utc_millis);

    // When a restart's first fix has been reached: the receiver's TTFF report
    // in simulated seconds, handed out once per restart.
    std::optional<double> take_ttff(double now);

    // Nominal simulated TTFF of a start kind, in seconds.
    static double nominal_ttff(StartKind kind);

  private:
    struct Satellite {
        int prn;
        double elevation0, azimuth0;  // degrees at the simulator's start
        double azimuth_rate;          // degrees per second
        double elevation_phase;
        bool position_unknown;    // listed without elevation and azimuth
        bool never_tracked;       // listed but searched for only
        double acquire_fraction;  // share of the TTFF after which it is tracked again
    };

    double simulated_since_start(double now) const { return (now - start_time_) / scale_; }
    FixKind fix_at(double now) const;

    std::mt19937 rng_;
    double scale_;
    double origin_time_;  // real time of the simulator's start
    double start_time_;   // real time of the last (re)start
    StartKind kind_ = StartKind::PowerOn;
    double ttff_ = 0;  // simulated seconds of the current start
    bool ttff_reported_ = true;
    std::optional<int> single_prn_;
    std::vector<Satellite> sats_;
    double latitude0_, longitude0_, altitude0_;
};

}  // namespace sim
