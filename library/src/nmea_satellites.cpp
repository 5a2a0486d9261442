// Satellite sentences (GSV, GSA) and the 12-channel table: channel states,
// the PRN-sorted copy for the channel chart and the sky-plot position.
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

#include "ZorvikDll.h"
#include "nmea_fields.h"
#include "nmea_parsers.h"
#include "state_record.h"

namespace zorvik::nmea {

namespace {

constexpr int kChannels = 12;

// GSV numbers above 32 are SBAS satellites, 33..64 for PRNs 120..151.
constexpr int kLastGpsNumber = 32;
constexpr int kSbasOffset = 87;
// No constellation numbers its satellites with more than three digits; a
// number outside this range names no satellite and is stored as 0.
constexpr int kMaxSatelliteNumber = 999;

void clear_channel_table(ParseNMEAInfo& s) {
    std::memset(s.sv_prn, 0, sizeof s.sv_prn);
    std::memset(s.sv_elevation, 0, sizeof s.sv_elevation);
    std::memset(s.sv_azimuth, 0, sizeof s.sv_azimuth);
    std::memset(s.sv_snr, 0, sizeof s.sv_snr);
    std::memset(s.sv_pos_missing, 0, sizeof s.sv_pos_missing);
}

void clear_sorted(ParseNMEAInfo& s) {
    std::memset(s.sorted_prn, 0, sizeof s.sorted_prn);
    std::memset(s.sorted_snr, 0, sizeof s.sorted_snr);
    std::memset(s.sorted_status, 0, sizeof s.sorted_status);
}

bool sat_used(const ParseNMEAInfo& s, int prn) {
    for (int k = 0; k < kChannels; ++k) {
        if (s.sv_used[k] == prn) return true;
    }
    return false;
}

// A GSA satellite ID: the first three characters of its field as an integer.
int read_sat_id(Cursor& c) {
    std::int32_t id = 0;
    int digits = 0;
    if (c.next_digits(3, id, digits)) return id;  // the common form, read in one pass
    return to_int(c.next(true).substr(0, 3));
}

// A GSV satellite number as stored: in range, with the SBAS offset.
int read_prn(Cursor& c) {
    const int number = c.next_int();
    if (number < 0 || number > kMaxSatelliteNumber) return 0;
    return number > kLastGpsNumber ? number + kSbasOffset : number;
}

// Elevation or azimuth: an empty field stores 0 and marks the position missing.
void read_position(Cursor& c, int& value, int& missing) {
    bool empty = false;
    value = c.next_int(empty);
    if (empty) missing = 1;
}

}  // namespace

void parse_gsv(const char* line, std::size_t len, int start) {
    ParseNMEAInfo& s = state();
    const HeadOf<kWindow> head(line, len);
    Cursor c = head.cursor(start);
    const int messages = c.next_int();
    const int number = c.next_int();
    // Message numbers below 1 (or missing) would address channels before
    // channel 0: such a message is dropped whole.
    if (number < 1) return;
    if (number <= 3) {
        s.sats_in_view = c.next_int();
        for (int slot = 0; slot < 4; ++slot) {
            if (slot == 0 && number == 1) clear_channel_table(s);  // a new group begins
            // The sentence ended at its '*', at its end or at the window:
            // the remaining slots are not in this message.
            if (c.at_end()) break;
            const int ch = (number - 1) * 4 + slot;
            const int prn = read_prn(c);
            // One field alone after the last full block is the signal ID of
            // newer receivers, not a satellite.
            if (c.closed()) break;
            s.sv_prn[ch] = prn;
            read_position(c, s.sv_elevation[ch], s.sv_pos_missing[ch]);
            read_position(c, s.sv_azimuth[ch], s.sv_pos_missing[ch]);
            const int snr = c.next_int();
            s.sv_snr[ch] = snr;
            if (snr > 99) return;  // not a C/N0: the rest of the sentence is not trusted
        }
    }
    if (number == messages) s.parse_gsv_done = 1;
}

void parse_gsa(const char* line, std::size_t len, int start) {
    ParseNMEAInfo& s = state();
    Cursor c = Cursor::over(line, len, start);
    c.next(true);  // selection mode, one character or empty
    const std::string_view fix = c.next(true);
    s.fix_mode = (!fix.empty() && fix[0] >= '0' && fix[0] <= '9') ? fix[0] - '0' : 0;
    for (int k = 0; k < kChannels; ++k) s.sv_used[k] = read_sat_id(c);
    s.pdop = to_float(c.next(true).substr(0, 10));
    s.hdop = to_float(c.next(true).substr(0, 10));
    s.vdop = to_float(c.next(true).substr(0, 10));
    s.parse_gsa_done = 1;
}

}  // namespace zorvik::nmea

namespace {

using zorvik::state;
using zorvik::state_mutex;
using zorvik::nmea::kChannels;

void sv_sort(int* first, int* key, int count, int* second) {
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            if (key[j] < key[i]) {
                std::swap(key[i], key[j]);
                std::swap(first[i], first[j]);
                std::swap(second[i], second[j]);
            }
        }
    }
}

// Drops the fraction toward zero; values far off the plot (from elevations
// no receiver reports) are held at a bound instead of overflowing an int.
int truncate_to_pixel(double v) {
    if (!(v > -1e9)) return -1000000000;
    if (!(v < 1e9)) return 1000000000;
    return static_cast<int>(std::trunc(v));
}

}  // namespace

extern "C" {

ZORVIK_API void ParseGSV(int start, char* line) {
    if (!line) return;
    std::lock_guard lock(state_mutex());
    zorvik::nmea::parse_gsv(line, std::strlen(line), start);
}

ZORVIK_API void ParseGSA(int start, char* line) {
    if (!line) return;
    std::lock_guard lock(state_mutex());
    zorvik::nmea::parse_gsa(line, std::strlen(line), start);
}

ZORVIK_API void ClearChStatus(void) {
    std::lock_guard lock(state_mutex());
    ParseNMEAInfo& s = state();
    zorvik::nmea::clear_channel_table(s);
    std::memset(s.sv_used, 0, sizeof s.sv_used);
}

ZORVIK_API void GetChStatus(void) {
    std::lock_guard lock(state_mutex());
    ParseNMEAInfo& s = state();
    for (int c = 0; c < kChannels; ++c) {
        if (s.sv_prn[c] == 0) {
            s.ch_status[c] = 0;
        } else if (s.sv_snr[c] == 0) {
            s.ch_status[c] = 1;
        } else {
            s.ch_status[c] = zorvik::nmea::sat_used(s, s.sv_prn[c]) ? 3 : 2;
        }
    }
}

ZORVIK_API int CheckSAT_Used(int prn) {
    std::lock_guard lock(state_mutex());
    return zorvik::nmea::sat_used(state(), prn) ? 1 : 0;
}

ZORVIK_API void ttff_sv_cn_clean(void) {
    std::lock_guard lock(state_mutex());
    zorvik::nmea::clear_sorted(state());
}

ZORVIK_API void sort_sv_cn(void) {
    std::lock_guard lock(state_mutex());
    ParseNMEAInfo& s = state();
    zorvik::nmea::clear_sorted(s);
    for (int c = 0; c < kChannels; ++c) {
        s.sorted_snr[c] = s.sv_snr[c];
        s.sorted_prn[c] = s.sv_prn[c];
        s.sorted_status[c] = s.ch_status[c];
    }
    sv_sort(s.sorted_snr, s.sorted_prn, kChannels, s.sorted_status);
}

ZORVIK_API void SV_Sort(int* first, int* key, int count, int* second) {
    if (!first || !key || !second || count <= 1) return;
    sv_sort(first, key, count, second);
}

ZORVIK_API void GetSAT_Pos(int elevation, int azimuth, int* x, int* y) {
    if (azimuth < 0) azimuth += 360;
    const double r = (90.0 - elevation) * (1.0 / 90.0) * 102.0;
    const double a = azimuth * (1.0 / 180.0) * std::numbers::pi;
    const int px = truncate_to_pixel(std::sin(a) * r) + 124;
    const int py = 120 - truncate_to_pixel(std::cos(a) * r);
    if (x) *x = px;
    if (y) *y = py;
}

}  // extern "C"
