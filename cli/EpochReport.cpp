#include "EpochReport.h"

#include <cmath>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string_view>

#include "CliSupport.h"
#include "DisplayFormats.h"

namespace cli {

namespace DisplayFormats = zorvik::link::DisplayFormats;

namespace {

using DisplayFormats::FieldText;
using DisplayFormats::number;
using DisplayFormats::ReceivedDop;
using DisplayFormats::ReceivedNumber;

using DisplayFormats::kKmhPerKnot;
using zorvik::link::Epoch;
using zorvik::link::Kind;
constexpr const char* kDegreeSign = "\u00b0";

// The epoch's RMC says A and its position can be true.
bool ValidPosition(const Epoch& e) {
    const ParseNMEAInfo& info = e.record;
    return e.Has(Kind::Rmc) && info.rmc_status == 'A' &&
           DisplayFormats::PossiblePosition(FieldText(info.latitude), info.lat_hemisphere,
                                            FieldText(info.longitude), info.lon_hemisphere);
}

// The epoch's fix mode; 0 when it had no GSA.
int FixMode(const Epoch& e) {
    return e.Has(Kind::Gsa) ? e.record.fix_mode : 0;
}

// A valid position that the epoch's GSA does not call "no fix".
bool HasFix(const Epoch& e) {
    return ValidPosition(e) && FixMode(e) != 1;
}

std::string FixState(const Epoch& e) {
    if (!HasFix(e)) return "Invalid";
    if (FixMode(e) == 2) return "Valid 2D";
    if (FixMode(e) == 3) return "Valid 3D";
    return "Valid";
}

std::string Dms(const DisplayFormats::Dms& dms, char hemisphere) {
    if (!dms.given) return {};
    return DisplayFormats::TwoDigitText(dms.degrees) + kDegreeSign +
           DisplayFormats::MinutesSecondsText(dms, hemisphere);
}

std::string LatitudeText(const ParseNMEAInfo& info) {
    return Dms(DisplayFormats::ToDms(FieldText(info.latitude)), info.lat_hemisphere);
}

std::string LongitudeText(const ParseNMEAInfo& info) {
    return Dms(DisplayFormats::ToDms(FieldText(info.longitude)), info.lon_hemisphere);
}

int SatellitesUsed(const ParseNMEAInfo& info) {
    int used = 0;
    for (int prn : info.sv_used)
        if (prn != 0) ++used;
    return used;
}

// A value and its unit; nothing at all for a field the receiver left empty.
std::string WithUnit(const std::string& shown, std::string_view unit) {
    return shown.empty() ? shown : shown + std::string(unit);
}

// A label and its value; nothing at all for a field left empty.
std::string Labelled(std::string_view label, const std::string& value) {
    return value.empty() ? value : std::string(label) + " " + value;
}

// The parts that are not empty, with the gap between them: a field left
// empty leaves no gap behind.
std::string Joined(std::initializer_list<std::string> parts, std::string_view gap) {
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!text.empty()) text += gap;
        text += part;
    }
    return text;
}

struct Texts {
    std::string time, date, latitude, longitude, altitude, speed, heading, fix, hdop, vdop, sats;
};

// "-" for a count the epoch did not send.
std::string CountText(bool sent, int count) {
    return sent ? std::to_string(count) : "-";
}

Texts EpochTexts(const Epoch& e) {
    const ParseNMEAInfo& info = e.record;
    Texts t;
    if (e.Has(Kind::Rmc)) {
        t.time = Trimmed(DisplayFormats::TimeText(FieldText(info.utc_time)));
        t.date = Trimmed(DisplayFormats::DateText(FieldText(info.utc_date)));
        t.latitude = LatitudeText(info);
        t.longitude = LongitudeText(info);
        t.speed = WithUnit(Trimmed(DisplayFormats::SpeedText(FieldText(info.speed))), " km/h");
        t.heading =
            WithUnit(Trimmed(DisplayFormats::CourseText(FieldText(info.course))), kDegreeSign);
    }
    if (e.Has(Kind::Gga))
        t.altitude =
            WithUnit(Trimmed(DisplayFormats::AltitudeText(FieldText(info.altitude))), " m");
    t.fix = FixState(e);
    if (e.Has(Kind::Gsa)) {
        t.hdop = Trimmed(DisplayFormats::DopText(info.hdop));
        t.vdop = Trimmed(DisplayFormats::DopText(info.vdop));
    }
    t.sats = CountText(e.Has(Kind::Gsa), SatellitesUsed(info)) + "/" +
             CountText(e.Has(Kind::Gsv), info.sats_in_view);
    return t;
}

// Signed decimal degrees of a ddmm.mmmm (or dddmm.mmmm) text.
double DecimalDegrees(std::string_view ddmm, char hemisphere) {
    const double value = number(ddmm);
    const double degrees = std::trunc(value / 100.0);
    const double decimal = degrees + (value - degrees * 100.0) / 60.0;
    return (hemisphere == 'S' || hemisphere == 'W') ? -decimal : decimal;
}

double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// null for a field the receiver left empty.
nlohmann::ordered_json Received(std::optional<double> value, int decimals = -1) {
    if (!value) return nullptr;
    return decimals < 0 ? *value : Rounded(*value, decimals);
}

// "hh:mm:ss" of the RMC time hhmmss.sss, as sent (no rounding).
std::string IsoTime(std::string_view utc_time) {
    if (utc_time.size() < 6) return {};
    return std::string(utc_time.substr(0, 2)) + ":" + std::string(utc_time.substr(2, 2)) + ":" +
           std::string(utc_time.substr(4, 2));
}

// "YYYY-MM-DD" of the RMC date ddmmyy (the receiver's years are 20yy).
std::string IsoDate(std::string_view utc_date) {
    if (utc_date.size() < 6) return {};
    return "20" + std::string(utc_date.substr(4, 2)) + "-" + std::string(utc_date.substr(2, 2)) +
           "-" + std::string(utc_date.substr(0, 2));
}

const char* ChannelStatusName(int status) {
    switch (status) {
        case 1:
            return "Search";
        case 2:
            return "Track";
        case 3:
            return "PVT";
        default:
            return "";
    }
}

nlohmann::ordered_json SatellitesJson(const ParseNMEAInfo& info) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t c = 0; c < std::size(info.sv_prn); ++c) {
        if (info.sv_prn[c] == 0) continue;
        list.push_back({{"prn", info.sv_prn[c]},
                        {"elevation", info.sv_elevation[c]},
                        {"azimuth", info.sv_azimuth[c]},
                        {"cn0", info.sv_snr[c]},
                        {"status", ChannelStatusName(info.ch_status[c])}});
    }
    return list;
}

}  // namespace

std::string EpochLine(const Epoch& epoch) {
    const Texts t = EpochTexts(epoch);
    return Joined({t.time, t.date, t.latitude, t.longitude, t.altitude, t.speed, t.heading, t.fix,
                   Labelled("HDOP", t.hdop), Labelled("VDOP", t.vdop), "sats " + t.sats},
                  "  ");
}

std::string EpochBlock(const Epoch& epoch) {
    const Texts t = EpochTexts(epoch);
    constexpr std::string_view kGap = "   ";
    std::string block = "UTC         " + Joined({t.time, t.date}, kGap) + "\n";
    block += "Position    " +
             Joined({t.latitude, t.longitude, Labelled("altitude", t.altitude)}, kGap) + "\n";
    block += "Motion      " + Joined({t.speed, Labelled("heading", t.heading)}, kGap) + "\n";
    block += "Fix         " +
             Joined({t.fix, Labelled("HDOP", t.hdop), Labelled("VDOP", t.vdop),
                     "satellites used/in view " + t.sats},
                    kGap) +
             "\n";
    return block;
}

nlohmann::ordered_json EpochJson(const Epoch& e) {
    const ParseNMEAInfo& info = e.record;
    const bool rmc = e.Has(Kind::Rmc);
    const bool gsa = e.Has(Kind::Gsa);
    const int mode = FixMode(e);
    std::optional<double> speed_kmh = ReceivedNumber(FieldText(info.speed));
    if (speed_kmh) *speed_kmh *= kKmhPerKnot;
    const auto if_sent = [](bool sent, nlohmann::ordered_json value) {
        return sent ? std::move(value) : nlohmann::ordered_json(nullptr);
    };
    nlohmann::ordered_json epoch = {
        {"time", if_sent(rmc, IsoTime(FieldText(info.utc_time)))},
        {"date", if_sent(rmc, IsoDate(FieldText(info.utc_date)))},
        {"valid", ValidPosition(e)},
        {"fix", if_sent(gsa, mode == 2   ? "2D"
                             : mode == 3 ? "3D"
                                         : "none")},
        {"lat", nullptr},
        {"lon", nullptr},
        {"alt_m", if_sent(e.Has(Kind::Gga), Received(ReceivedNumber(FieldText(info.altitude))))},
        {"speed_kmh", if_sent(rmc, Received(speed_kmh, 3))},
        {"heading_deg", if_sent(rmc, Received(ReceivedNumber(FieldText(info.course))))},
        {"hdop", if_sent(gsa, Received(ReceivedDop(info.hdop), 2))},
        {"vdop", if_sent(gsa, Received(ReceivedDop(info.vdop), 2))},
        {"satellites", if_sent(e.HasSky(), SatellitesJson(info))},
        {"checksum_dropped", e.checksum_dropped},
    };
    if (HasFix(e)) {
        epoch["lat"] = Rounded(DecimalDegrees(FieldText(info.latitude), info.lat_hemisphere), 7);
        epoch["lon"] = Rounded(DecimalDegrees(FieldText(info.longitude), info.lon_hemisphere), 7);
    }
    return epoch;
}

}  // namespace cli
