// NMEA intake: recognises each received line by its first characters and
// hands it to its parser; the checksum rule shared by every sentence in and
// out; the $PKVX200 reply and the second step of the baud-rate exchange.
#include <cstdint>
#include <cstring>
#include <mutex>

#include "ZorvikDll.h"
#include "nmea_checksum.h"
#include "nmea_fields.h"
#include "nmea_parsers.h"
#include "state_record.h"

namespace zorvik::nmea {

namespace {

// Digit value as the receiver's checksum is decoded: below ':' counts from
// '0', anything else from 'A' - 10 (so lower-case letters never match).
int hex_half(unsigned char ch) {
    return ch < ':' ? ch - '0' : ch - 55;
}

// Verifies the two digits after the first '*'; a line without them fails.
// Sets checksum_error on failure. State lock held.
bool verify_locked(const char* line, std::size_t len) {
    const char* star = static_cast<const char*>(std::memchr(line, '*', len));
    bool ok = false;
    if (star && len > 0 && static_cast<std::size_t>(star - line) + 2 < len) {
        const auto hi = static_cast<unsigned char>(star[1]);
        const auto lo = static_cast<unsigned char>(star[2]);
        ok = hex_half(hi) * 16 + hex_half(lo) == static_cast<int>(checksum_value(line, len));
    }
    if (!ok) state().checksum_error = 1;
    return ok;
}

// First field of a $PKVX200 reply: up to 12 characters and their ',', a
// decimal integer. false for anything else (the reply is then ignored).
bool parse_reply_code(const char* line, std::size_t len, int start, std::int32_t& code) {
    const char* b = Cursor::over(line, len, start).p;
    const char* q = b;
    while (*q != '\0' && *q != ',' && q - b <= 12) ++q;
    if (*q != ',' || q - b > 12) return false;
    return parse_int_strict(std::string_view(b, static_cast<std::size_t>(q - b)), code);
}

bool has_prefix(const char* line, std::size_t len, std::string_view prefix) {
    return len >= 1 + prefix.size() && std::memcmp(line + 1, prefix.data(), prefix.size()) == 0;
}

enum class Kind { kFwVersion, kCustomerVersion, kTtff, kReply, kStandard };

struct Route {
    std::string_view prefix;
    void (*parser)(const char*, std::size_t, int);  // null for the reply parser
    int start;
    Kind kind;
};

// No prefix begins another, so at most one row matches; the rows go by how
// often their sentences arrive (three GSV messages an epoch).
constexpr Route kRoutes[] = {
    {"GPGSV", parse_gsv, 7, Kind::kStandard},
    {"GPRMC", parse_rmc, 7, Kind::kStandard},
    {"GPGGA", parse_gga, 7, Kind::kStandard},
    {"GPGSA", parse_gsa, 7, Kind::kStandard},
    {"PKVX100", parse_fw_ver, 9, Kind::kFwVersion},
    {"PKVX28,01", parse_customer_fw_ver, 11, Kind::kCustomerVersion},
    {"PKVX119", parse_ttff, 9, Kind::kTtff},
    {"PKVX200", nullptr, 9, Kind::kReply},
};

// Handles one line under the state lock. true when the second step of the
// baud-rate exchange is due (it is flagged here and written by the caller
// once the lock is released).
bool dispatch_locked(const char* line, std::size_t len) {
    ParseNMEAInfo& s = state();
    s.parsing = 1;
    for (const Route& r : kRoutes) {
        if (!has_prefix(line, len, r.prefix)) continue;
        switch (r.kind) {
            case Kind::kFwVersion:
                r.parser(line, len, r.start);
                s.parse_fw_ver_done = 1;
                return false;
            case Kind::kCustomerVersion:
                r.parser(line, len, r.start);
                s.parse_customer_fw_ver_done = 1;
                return false;
            case Kind::kTtff:
                r.parser(line, len, r.start);
                s.parse_ttff_done = 1;
                return false;
            case Kind::kReply: {
                std::int32_t code = 0;
                if (!parse_reply_code(line, len, r.start, code)) return false;
                s.reply_code = code;
                s.parse_reply_done = 1;
                if (code == 9 && s.NMEA09_2ndCommmand_done == 0) {
                    s.NMEA09_2ndCommmand_done = 1;
                    return true;
                }
                return false;
            }
            case Kind::kStandard:
                // The gate: a sentence failing its checksum is dropped with
                // `parsing` left at 1.
                if (s.checksum_check == 1 && !verify_locked(line, len)) return false;
                r.parser(line, len, r.start);
                s.parsing = 0;
                return false;
        }
    }
    s.parsing = 0;
    return false;
}

}  // namespace

}  // namespace zorvik::nmea

extern "C" {

ZORVIK_API void ParseNMEA(char* line) {
    if (!line) return;
    const std::size_t len = std::strlen(line);
    bool second_step = false;
    {
        std::lock_guard lock(zorvik::state_mutex());
        second_step = zorvik::nmea::dispatch_locked(line, len);
    }
    // Written outside the state lock: the command lock comes first.
    if (second_step) CMD_NMEA09_2ndCommmand();
}

ZORVIK_API int CheckSum(const char* text) {
    if (!text) return 0;
    const unsigned sum = zorvik::nmea::checksum_value(text);
    std::lock_guard lock(zorvik::state_mutex());
    char* out = zorvik::state().checksum_text;
    zorvik::nmea::checksum_digits(sum, out);
    out[2] = '\0';
    return static_cast<int>(sum);
}

ZORVIK_API int Calculate_CheckSum(const char* line) {
    if (!line) return 0;
    std::lock_guard lock(zorvik::state_mutex());
    return zorvik::nmea::verify_locked(line, std::strlen(line)) ? 1 : 0;
}

}  // extern "C"
