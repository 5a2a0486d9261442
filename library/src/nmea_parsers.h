// The NMEA parsers as the intake calls them: each works on the library's
// receiver state record and expects the caller to hold the state lock
// (zorvik::state_mutex()). `len` is the length of the line's text, which
// ends in its NUL; no parser reads beyond that NUL.
#pragma once

#include <cstddef>

namespace zorvik::nmea {

void parse_rmc(const char* line, std::size_t len, int start);
void parse_gga(const char* line, std::size_t len, int start);
void parse_fw_ver(const char* line, std::size_t len, int start);
void parse_customer_fw_ver(const char* line, std::size_t len, int start);
void parse_ttff(const char* line, std::size_t len, int start);
void parse_gsv(const char* line, std::size_t len, int start);
void parse_gsa(const char* line, std::size_t len, int start);

// RMC and GSV read no character at position 100 or beyond.
constexpr std::size_t kWindow = 100;
constexpr std::size_t kNoWindow = static_cast<std::size_t>(-1);

// XOR of the characters from position 1 up to the first '*' (or the end of
// the text when there is none, or `limit` characters).
unsigned checksum_value(const char* text, std::size_t limit = kNoWindow);

// Two upper-case hexadecimal digits of value (0..255).
inline void checksum_digits(unsigned value, char out[2]) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out[0] = kHex[(value >> 4) & 0xF];
    out[1] = kHex[value & 0xF];
}

}  // namespace zorvik::nmea
