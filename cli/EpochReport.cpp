#include "EpochReport.h"

#include <cmath>
#include <iterator>
#include <sstream>
#include <string_view>

#include "CliSupport.h"
#include "DisplayFormats.h"

namespace cli {

namespace {

using DisplayFormats::FieldText;
using DisplayFormats::number;

using DisplayFormats::kKmhPerKnot;
constexpr const char* kDegreeSign = "\u00b0";

// The receiver has a fix when RMC says so and GSA does not say "no fix".
bool HasFix(const ParseNMEAInfo& info) {
    return info.rmc_status == 'A' && info.fix_mode != 1;
}

std::string FixState(const ParseNMEAInfo& info) {
    if (!HasFix(info)) return "Invalid";
    if (info.fix_mode == 2) return "Valid 2D";
    if (info.fix_mode == 3) return "Valid 3D";
    return "Valid";
}

std::string Dms(const DisplayFormats::Dms& dms, char hemisphere) {
    return TwoDigitText(dms.degrees) + kDegreeSign +
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

struct Texts {
    std::string time, date, latitude, longitude, altitude, speed, heading, fix, hdop, vdop, sats;
};

Texts EpochTexts(const ParseNMEAInfo& info) {
    Texts t;
    t.time = Trimmed(DisplayFormats::TimeText(FieldText(info.utc_time)));
    t.date = Trimmed(DisplayFormats::DateText(FieldText(info.utc_date)));
    t.latitude = LatitudeText(info);
    t.longitude = LongitudeText(info);
    t.altitude = Trimmed(DisplayFormats::AltitudeText(FieldText(info.altitude))) + " m";
    t.speed = Trimmed(DisplayFormats::SpeedText(FieldText(info.speed))) + " km/h";
    t.heading = Trimmed(DisplayFormats::CourseText(FieldText(info.course))) + kDegreeSign;
    t.fix = FixState(info);
    t.hdop = Trimmed(DisplayFormats::DopText(info.hdop));
    t.vdop = Trimmed(DisplayFormats::DopText(info.vdop));
    t.sats = std::to_string(SatellitesUsed(info)) + "/" + std::to_string(info.sats_in_view);
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

std::string EpochLine(const ParseNMEAInfo& info) {
    const Texts t = EpochTexts(info);
    std::ostringstream line;
    line << t.time << "  " << t.date << "  " << t.latitude << "  " << t.longitude << "  "
         << t.altitude << "  " << t.speed << "  " << t.heading << "  " << t.fix << "  HDOP "
         << t.hdop << "  VDOP " << t.vdop << "  sats " << t.sats;
    return line.str();
}

std::string EpochBlock(const ParseNMEAInfo& info) {
    const Texts t = EpochTexts(info);
    std::ostringstream block;
    block << "UTC         " << t.time << "   " << t.date << "\n"
          << "Position    " << t.latitude << "   " << t.longitude << "   altitude " << t.altitude
          << "\n"
          << "Motion      " << t.speed << "   heading " << t.heading << "\n"
          << "Fix         " << t.fix << "   HDOP " << t.hdop << "   VDOP " << t.vdop
          << "   satellites used/in view " << t.sats << "\n";
    return block.str();
}

nlohmann::ordered_json EpochJson(const ParseNMEAInfo& info) {
    const bool fix = HasFix(info);
    const char* fix_kind = info.fix_mode == 2 ? "2D" : info.fix_mode == 3 ? "3D" : "none";
    nlohmann::ordered_json epoch = {
        {"time", IsoTime(FieldText(info.utc_time))},
        {"date", IsoDate(FieldText(info.utc_date))},
        {"valid", info.rmc_status == 'A'},
        {"fix", fix_kind},
        {"lat", nullptr},
        {"lon", nullptr},
        {"alt_m", number(FieldText(info.altitude))},
        {"speed_kmh", Rounded(number(FieldText(info.speed)) * kKmhPerKnot, 3)},
        {"heading_deg", number(FieldText(info.course))},
        {"hdop", Rounded(info.hdop, 2)},
        {"vdop", Rounded(info.vdop, 2)},
        {"satellites", SatellitesJson(info)},
    };
    if (fix) {
        epoch["lat"] = Rounded(DecimalDegrees(FieldText(info.latitude), info.lat_hemisphere), 7);
        epoch["lon"] = Rounded(DecimalDegrees(FieldText(info.longitude), info.lon_hemisphere), 7);
    }
    return epoch;
}

}  // namespace cli
