// NMEA 0183 sentence building on the receiver's side: the checksum rule and
// the standard and proprietary sentences the receiver sends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim::nmea {

// XOR of every character of the body (the text between '$' and '*').
std::uint8_t checksum(std::string_view body);

// Two upper-case hexadecimal digits.
std::string hex2(std::uint8_t value);

// "$" + body + "*" + checksum + CR LF. With corrupt set the checksum digits
// are deliberately wrong (fault injection).
std::string sentence(std::string_view body, bool corrupt = false);

// Latitude as ddmm.mmmm and hemisphere, longitude as dddmm.mmmm and hemisphere.
std::string latitude_field(double degrees);
std::string longitude_field(double degrees);

}  // namespace sim::nmea
