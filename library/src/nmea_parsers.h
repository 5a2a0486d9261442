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

}  // namespace zorvik::nmea
