// Field cursor of the NMEA parsers: walks the comma-separated fields of one
// received line, which ends in its NUL. A parser's window (RMC and GSV read
// nothing from position 100 on) is a copy of the line's head with its own
// NUL, so every scan stops at a NUL and none needs a length check per
// character.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zorvik::nmea {

// Where a cursor stands once a '*' or the text's end closed the sentence:
// every later field reads as empty.
inline constexpr char kClosed = '\0';

// No field separator (',', '*', NUL) sorts above ',', so one comparison lets
// most characters pass.
inline bool may_end_field(unsigned char ch) {
    return ch <= ',';
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

// A digit's value; above 9 for any other character.
inline unsigned digit_value(char ch) {
    return static_cast<unsigned char>(ch) - unsigned{'0'};
}

struct Cursor {
    const char* p;

    // Cursor at position start of a NUL-terminated text of len characters; a
    // start outside the text gives an empty cursor.
    static Cursor over(const char* text, std::size_t len, int start) {
        const bool inside = start >= 0 && static_cast<std::size_t>(start) < len;
        return Cursor{inside ? text + start : text + len};
    }

    bool at_end() const { return *p == '\0'; }
    // The last field read ended at a '*' or at the text's end (not at a ',').
    bool closed() const { return p == &kClosed; }

    // The next field: characters up to ',' or, when star_ends, up to '*'.
    // A ',' is consumed; a '*' or the end closes the sentence, so nothing of
    // the checksum is taken for data.
    std::string_view next(bool star_ends) {
        const char* q = p;
        for (;; ++q) {
            const auto ch = static_cast<unsigned char>(*q);
            if (!may_end_field(ch)) continue;
            if (ch == ',' || ch == '\0' || (star_ends && ch == '*')) break;
        }
        const std::string_view field(p, static_cast<std::size_t>(q - p));
        advance_past(q);
        return field;
    }

    // The common form of a number field: at most max_digits digits (none
    // when the field is empty) up to ',', '*' or the end. Consumes the field
    // and gives its value and digit count; false, consuming nothing, for any
    // other form. max_digits is at most 9, which no int can overflow.
    bool next_digits(int max_digits, std::int32_t& value, int& count) {
        const char* q = p;
        std::uint64_t v = 0;  // wraps harmlessly on a long run, refused below
        for (;; ++q) {
            const unsigned d = digit_value(*q);
            if (d > 9) break;
            v = v * 10 + d;
        }
        const auto stop = static_cast<unsigned char>(*q);
        const bool ends = stop == ',' || stop == '*' || stop == '\0';
        if (!ends || q - p > max_digits) return false;
        count = static_cast<int>(q - p);
        value = static_cast<std::int32_t>(v);
        advance_past(q);
        return true;
    }

    // An integer field (ending at ',' or '*'); the value of to_int() on the
    // field's text: 0 when it is empty or not a number. `empty` tells whether
    // the field held no character at all.
    std::int32_t next_int(bool& empty) {
        std::int32_t v = 0;
        int count = 0;
        if (next_digits(9, v, count)) {
            empty = count == 0;
            return v;
        }
        empty = false;  // only a field with characters fails the common form
        return to_int(next(true));
    }
    std::int32_t next_int() {
        bool empty = false;
        return next_int(empty);
    }

    void skip(int fields, bool star_ends) {
        for (int i = 0; i < fields && !at_end(); ++i) next(star_ends);
    }

  private:
    // Moves behind the separator at q: past a ',', or to the closed state.
    void advance_past(const char* q) { p = *q == ',' ? q + 1 : &kClosed; }
};

// The first limit characters of a line (all of it when shorter) as a
// NUL-terminated text: the line itself, or a copy of its head.
template <std::size_t Limit>
class HeadOf {
  public:
    HeadOf(const char* line, std::size_t len) {
        if (len <= Limit) {
            text_ = line;
            len_ = len;
            return;
        }
        std::memcpy(copy_, line, Limit);
        copy_[Limit] = '\0';
        text_ = copy_;
        len_ = Limit;
    }
    HeadOf(const HeadOf&) = delete;
    HeadOf& operator=(const HeadOf&) = delete;

    Cursor cursor(int start) const { return Cursor::over(text_, len_, start); }

  private:
    const char* text_;
    std::size_t len_;
    char copy_[Limit + 1];
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

// The common short form "[-]ddd[.ddd]" with at most seven digits: the digits
// are exact in a float's mantissa and so is the power of ten, so one IEEE
// division yields the correctly rounded value, as from_chars does. false for
// every other form.
inline bool short_decimal(const char* b, const char* e, float& out) {
    static constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f};
    constexpr std::ptrdiff_t kMaxDigits = 7;
    const bool neg = b < e && *b == '-';
    if (neg) ++b;
    std::uint32_t digits = 0;  // wraps harmlessly on a long run, refused below
    const char* q = b;
    auto take_digits = [&] {
        for (unsigned d; q < e && (d = digit_value(*q)) <= 9; ++q) digits = digits * 10 + d;
    };
    take_digits();
    const std::ptrdiff_t whole = q - b;
    std::ptrdiff_t fraction = 0;
    if (q < e && *q == '.') {
        const char* first = ++q;
        take_digits();
        fraction = q - first;
        if (fraction == 0) return false;
    }
    if (q != e || whole == 0 || whole + fraction > kMaxDigits) return false;
    const float v = static_cast<float>(digits) / kPowersOfTen[fraction];
    out = neg ? -v : v;
    return true;
}

// Real field with '.' as decimal point whatever the process locale; text
// that is not a number (or is empty) gives 0.0.
inline float to_float(std::string_view s) {
    if (s.empty()) return 0.0f;
    const char* b = s.data();
    const char* e = b + s.size();
    if (*b == '+') ++b;
    float v = 0.0f;
    if (short_decimal(b, e, v)) return v;
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || ptr != e) return 0.0f;
    return v;
}

}  // namespace zorvik::nmea
