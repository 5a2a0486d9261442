// Field cursor of the NMEA parsers: walks the comma-separated fields of one
// received line between a position and an end that the parser fixes once
// (the text's NUL, or a parser's window such as position 100), and never
// reads a character at or beyond that end.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zorvik::nmea {

struct Cursor {
    const char* p;
    const char* end;

    // Cursor over line[start, min(strlen(line), window)). A start beyond the
    // text gives an empty cursor: every field reads as empty.
    static Cursor over(const char* line, std::size_t len, int start, std::size_t window) {
        const std::size_t stop = len < window ? len : window;
        const std::size_t from = start < 0 ? stop : static_cast<std::size_t>(start);
        return Cursor{line + (from < stop ? from : stop), line + stop};
    }

    bool at_end() const { return p >= end; }

    // The next field: characters up to ',' or, when star_ends, up to '*'.
    // A ',' is consumed; a '*' or the end closes the sentence, so every later
    // field reads as empty and nothing of the checksum is taken for data.
    std::string_view next(bool star_ends) {
        const char* b = p;
        const char* q = b;
        if (star_ends) {
            while (q < end && *q != ',' && *q != '*') ++q;
        } else {
            while (q < end && *q != ',') ++q;
        }
        p = (q < end && *q == ',') ? q + 1 : end;
        return std::string_view(b, static_cast<std::size_t>(q - b));
    }

    // An integer field (ending at ',' or '*') read in one pass; the value of
    // to_int() on the field's text: 0 when it is empty or not a number.
    // `empty` tells whether the field held no character at all.
    std::int32_t next_int(bool& empty) {
        const char* q = p;
        bool neg = false;
        if (q < end && (*q == '-' || *q == '+')) {
            neg = *q == '-';
            ++q;
        }
        const char* digits = q;
        std::int64_t v = 0;
        bool bad = false;
        for (; q < end; ++q) {
            const unsigned d = static_cast<unsigned>(static_cast<unsigned char>(*q)) - '0';
            if (d <= 9) {
                v = v * 10 + d;
                if (v > std::int64_t{INT32_MAX} + 1) {
                    bad = true;
                    v = 0;
                }
                continue;
            }
            if (*q == ',' || *q == '*') break;
            bad = true;
        }
        empty = q == p;
        bad = bad || q == digits;
        p = (q < end && *q == ',') ? q + 1 : end;
        if (neg) v = -v;
        if (bad || v > INT32_MAX) return 0;
        return static_cast<std::int32_t>(v);
    }
    std::int32_t next_int() {
        bool empty = false;
        return next_int(empty);
    }

    void skip(int fields, bool star_ends) {
        for (int i = 0; i < fields && !at_end(); ++i) next(star_ends);
    }
};

// Copies at most limit characters of the field, cut further to fit dst with
// its NUL (dst_size bytes).
template <std::size_t N>
inline void store_text(char (&dst)[N], std::string_view field, std::size_t limit = N - 1) {
    std::size_t n = field.size();
    if (n > limit) n = limit;
    if (n > N - 1) n = N - 1;
    std::memcpy(dst, field.data(), n);
    dst[n] = '\0';
}

// Strict decimal integer: optional sign and at least one digit, nothing
// else, in the range of a 32-bit int. false for anything else.
inline bool parse_int_strict(std::string_view s, std::int32_t& out) {
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    if (i == s.size()) return false;
    std::int64_t v = 0;
    for (; i < s.size(); ++i) {
        const unsigned d = static_cast<unsigned char>(s[i]) - '0';
        if (d > 9) return false;
        v = v * 10 + d;
        if (v > std::int64_t{INT32_MAX} + 1) return false;
    }
    if (neg) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

// Integer field: text that is not a number (or is empty) gives 0.
inline std::int32_t to_int(std::string_view s) {
    std::int32_t v = 0;
    return parse_int_strict(s, v) ? v : 0;
}

// Real field with '.' as decimal point whatever the process locale; text
// that is not a number (or is empty) gives 0.0.
inline float to_float(std::string_view s) {
    if (s.empty()) return 0.0f;
    const char* b = s.data();
    const char* e = b + s.size();
    if (*b == '+') ++b;
    float v = 0.0f;
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || ptr != e) return 0.0f;
    return v;
}

}  // namespace zorvik::nmea
