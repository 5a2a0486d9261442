#include "nmea.h"

#include <cmath>
#include <cstdio>

namespace sim::nmea {

std::uint8_t checksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<std::uint8_t>(c);
    return sum;
}

std::string hex2(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

std::string sentence(std::string_view body, bool corrupt) {
    std::uint8_t sum = checksum(body);
    if (corrupt) sum ^= 0x5A;
    std::string out;
    out.reserve(body.size() + 6);
    out += '$';
    out += body;
    out += '*';
    out += hex2(sum);
    out += "\r\n";
    return out;
}

namespace {

std::string angle_field(double degrees, int degree_digits, char positive, char negative) {
    const char hemisphere = degrees < 0 ? negative : positive;
    double magnitude = std::fabs(degrees);
    int whole = static_cast<int>(magnitude);
    // Minutes rounded to 1/10000; carry into the degrees when they round up to 60.
    long minutes_e4 = std::lround((magnitude - whole) * 60.0 * 10000.0);
    if (minutes_e4 >= 600000) {
        minutes_e4 -= 600000;
        ++whole;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0*d%02ld.%04ld,%c", degree_digits, whole, minutes_e4 / 10000,
                  minutes_e4 % 10000, hemisphere);
    return buf;
}

}  // namespace

std::string latitude_field(double degrees) {
    return angle_field(degrees, 2, 'N', 'S');
}
std::string longitude_field(double degrees) {
    return angle_field(degrees, 3, 'E', 'W');
}

}  // namespace sim::nmea
