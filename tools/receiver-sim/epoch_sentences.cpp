#include "epoch_sentences.h"

#include <cstdio>

#include "nmea.h"

namespace sim {

namespace {

std::string utc_field(const Epoch& e) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d.%03d", e.hour, e.minute, e.second, e.millisecond);
    return buf;
}

std::string fixed(double v, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string two_digits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

bool valid(const Epoch& e) {
    return e.fix != FixKind::None;
}

}  // namespace

std::string rmc_body(const Epoch& e) {
    char date[8];
    std::snprintf(date, sizeof date, "%02d%02d%02d", e.day, e.month, e.year % 100);
    return "GPRMC," + utc_field(e) + (valid(e) ? ",A," : ",V,") + nmea::latitude_field(e.latitude) +
           "," + nmea::longitude_field(e.longitude) + "," + fixed(e.speed_knots, 2) + "," +
           fixed(e.course, 2) + "," + date + ",,," + (valid(e) ? "A" : "N");
}

std::string gga_body(const Epoch& e) {
    return "GPGGA," + utc_field(e) + "," + nmea::latitude_field(e.latitude) + "," +
           nmea::longitude_field(e.longitude) + "," + (valid(e) ? "1" : "0") + "," +
           two_digits(static_cast<int>(e.used.size())) + "," + (valid(e) ? fixed(e.hdop, 1) : "") +
           "," + fixed(e.altitude, 1) + ",M," + fixed(e.geoid_separation, 1) + ",M,,0000";
}

std::string gsa_body(const Epoch& e) {
    std::string body = "GPGSA,A," + std::to_string(static_cast<int>(e.fix));
    for (std::size_t i = 0; i < 12; ++i)
        body += "," + (i < e.used.size() ? two_digits(e.used[i]) : std::string());
    if (valid(e))
        body += "," + fixed(e.pdop, 1) + "," + fixed(e.hdop, 1) + "," + fixed(e.vdop, 1);
    else
        body += ",,,";
    return body;
}

std::vector<std::string> gsv_bodies(const Epoch& e) {
    const std::size_t count = std::min<std::size_t>(e.satellites.size(), 12);
    const std::size_t messages = count == 0 ? 1 : (count + 3) / 4;
    std::vector<std::string> out;
    for (std::size_t m = 0; m < messages; ++m) {
        std::string body = "GPGSV," + std::to_string(messages) + "," + std::to_string(m + 1) + "," +
                           two_digits(static_cast<int>(count));
        for (std::size_t i = m * 4; i < count && i < m * 4 + 4; ++i) {
            const SatelliteView& s = e.satellites[i];
            body += "," + two_digits(s.prn);
            body += "," + (s.elevation ? two_digits(*s.elevation) : std::string());
            char az[8] = "";
            if (s.azimuth) std::snprintf(az, sizeof az, "%03d", *s.azimuth);
            body += std::string(",") + az;
            body += "," + (s.snr ? two_digits(*s.snr) : std::string());
        }
        out.push_back(body);
    }
    return out;
}

std::string gll_body(const Epoch& e) {
    return "GPGLL," + nmea::latitude_field(e.latitude) + "," + nmea::longitude_field(e.longitude) +
           "," + utc_field(e) + (valid(e) ? ",A,A" : ",V,N");
}

std::string vtg_body(const Epoch& e) {
    return "GPVTG," + fixed(e.course, 2) + ",T,,M," + fixed(e.speed_knots, 2) + ",N," +
           fixed(e.speed_knots * 1.852, 2) + ",K," + (valid(e) ? "A" : "N");
}

std::string zda_body(const Epoch& e) {
    char date[24];
    std::snprintf(date, sizeof date, ",%02d,%02d,%04d,00,00", e.day, e.month, e.year);
    return "GPZDA," + utc_field(e) + date;
}

std::vector<std::string> epoch_bodies(const Epoch& e, const OutputSelection& selection) {
    std::vector<std::string> out;
    if (selection.on[kRMC]) out.push_back(rmc_body(e));
    if (selection.on[kGGA]) out.push_back(gga_body(e));
    if (selection.on[kGSA]) out.push_back(gsa_body(e));
    if (selection.on[kGSV])
        for (auto& b : gsv_bodies(e)) out.push_back(std::move(b));
    if (selection.on[kGLL]) out.push_back(gll_body(e));
    if (selection.on[kVTG]) out.push_back(vtg_body(e));
    if (selection.on[kZDA]) out.push_back(zda_body(e));
    return out;
}

}  // namespace sim
