// Position, time and version sentences: RMC, GGA, the firmware, customer
// version and time-to-first-fix replies, and the clock conversion to GPS
// seconds.
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ZorvikDll.h"
#include "nmea_fields.h"
#include "nmea_parsers.h"
#include "state_record.h"

namespace zorvik::nmea {

namespace {

// A single-character field (status, hemisphere): its first character, or
// NUL when the field is empty. The field is consumed whole, so an empty or
// longer field never shifts the fields behind it.
char single_char(Cursor& c) {
    const std::string_view f = c.next(true);
    return f.empty() ? '\0' : f[0];
}

}  // namespace

void parse_rmc(const char* line, std::size_t len, int start) {
    ParseNMEAInfo& s = state();
    const HeadOf<kWindow> head(line, len);
    Cursor c = head.cursor(start);
    store_text(s.utc_time, c.next(true));
    s.rmc_status = single_char(c);
    store_text(s.latitude, c.next(true));
    s.lat_hemisphere = single_char(c);
    store_text(s.longitude, c.next(true));
    s.lon_hemisphere = single_char(c);
    store_text(s.speed, c.next(true));
    store_text(s.course, c.next(true));
    store_text(s.utc_date, c.next(true));
    s.parse_rmc_done = 1;
}

void parse_gga(const char* line, std::size_t len, int start) {
    ParseNMEAInfo& s = state();
    Cursor c = Cursor::over(line, len, start);
    // time, latitude, N/S, longitude, E/W, quality, satellites, HDOP
    c.skip(8, true);
    store_text(s.altitude, c.next(true), 10);
    s.parse_gga_done = 1;
}

void parse_fw_ver(const char* line, std::size_t len, int start) {
    ParseNMEAInfo& s = state();
    Cursor c = Cursor::over(line, len, start);
    // Fields end at ',' only: the last one keeps the '*' and the checksum
    // digits behind it, of which the display uses the first characters.
    store_text(s.fw_info1, c.next(false), 10);
    store_text(s.fw_info2, c.next(false), 10);
    store_text(s.fw_ver_major, c.next(false), 10);
    store_text(s.fw_ver_minor, c.next(false), 10);
    c.skip(2, false);
    store_text(s.kernel_ver_major, c.next(false), 10);
    store_text(s.kernel_ver_minor, c.next(false), 10);
    store_text(s.fsa_ver, c.next(false), 16);
}

void parse_customer_fw_ver(const char* line, std::size_t len, int start) {
    Cursor c = Cursor::over(line, len, start);
    store_text(state().customer_fw_ver, c.next(false), 32);
}

void parse_ttff(const char* line, std::size_t len, int start) {
    Cursor c = Cursor::over(line, len, start);
    // The one field runs up to the '*'; a ',' belongs to it (and makes it
    // no number).
    const char* b = c.p;
    const char* q = b;
    while (*q != '\0' && *q != '*') ++q;
    std::string_view f(b, static_cast<std::size_t>(q - b));
    if (f.size() > 12) f = f.substr(0, 12);
    state().ttff = to_float(f);
}

}  // namespace zorvik::nmea

namespace {

using zorvik::state_mutex;

// Runs one parser on a caller's line under the state lock.
template <void (*Parser)(const char*, std::size_t, int)>
void locked_parse(int start, const char* line) {
    if (!line) return;
    std::lock_guard lock(state_mutex());
    Parser(line, std::strlen(line), start);
}

// Value of two characters c1 c2 as (c1 - '0') * 10 + (c2 - '0'), without a
// digit check; characters missing from a short text count as NUL.
int pair_value(const char* text, std::size_t len, std::size_t at) {
    const int c1 = at < len ? static_cast<unsigned char>(text[at]) : 0;
    const int c2 = at + 1 < len ? static_cast<unsigned char>(text[at + 1]) : 0;
    return (c1 - '0') * 10 + (c2 - '0');
}

constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Whole seconds from 1980-01-06 00:00:00 on the calendar, without leap
// seconds; every fourth year from 1980 is a leap year (true up to 2099).
// The clock fields are guarded by the state lock, which the caller holds.
std::uint32_t seconds_since_gps_epoch(const zorvik::ClockFields& k) {
    // A month outside 1..12 cannot be placed on the calendar: 0, the value
    // the ephemeris upload treats as "no time".
    if (k.month < 1 || k.month > 12) return 0;
    const std::int64_t y = static_cast<std::int64_t>(k.year) - 1980;
    std::int64_t leap = y / 4 + 1;
    if (y % 4 == 0 && k.month <= 2) leap -= 1;
    const std::int64_t days = 365 * y + kDaysBeforeMonth[k.month - 1] + k.day + leap - 6;
    const std::int64_t secs = 86400 * days + 3600 * static_cast<std::int64_t>(k.hour) +
                              60 * static_cast<std::int64_t>(k.minute) + k.second;
    return static_cast<std::uint32_t>(secs);
}

}  // namespace

extern "C" {

ZORVIK_API void ParseRMC(int start, char* line) {
    locked_parse<zorvik::nmea::parse_rmc>(start, line);
}
ZORVIK_API void ParseGGA(int start, char* line) {
    locked_parse<zorvik::nmea::parse_gga>(start, line);
}
ZORVIK_API void ParseFW_Ver(int start, char* line) {
    locked_parse<zorvik::nmea::parse_fw_ver>(start, line);
}
ZORVIK_API void Parse_Customer_FW_Ver(int start, char* line) {
    locked_parse<zorvik::nmea::parse_customer_fw_ver>(start, line);
}
ZORVIK_API void parse_ttff(int start, char* line) {
    locked_parse<zorvik::nmea::parse_ttff>(start, line);
}

ZORVIK_API uint32_t time_and_date_to_seconds(void) {
    std::lock_guard lock(state_mutex());
    return seconds_since_gps_epoch(zorvik::clock_fields());
}

ZORVIK_API uint32_t GetGPSTime(void) {
    std::lock_guard lock(state_mutex());
    const ParseNMEAInfo& s = zorvik::state();
    const std::size_t tl = strnlen(s.utc_time, sizeof s.utc_time);
    const std::size_t dl = strnlen(s.utc_date, sizeof s.utc_date);
    zorvik::ClockFields& k = zorvik::clock_fields();
    k.hour = pair_value(s.utc_time, tl, 0);
    k.minute = pair_value(s.utc_time, tl, 2);
    k.second = pair_value(s.utc_time, tl, 4);
    k.day = pair_value(s.utc_date, dl, 0);
    k.month = pair_value(s.utc_date, dl, 2);
    k.year = pair_value(s.utc_date, dl, 4) + 2000;
    k.gps_seconds = seconds_since_gps_epoch(k);
    return k.gps_seconds;
}

}  // extern "C"
