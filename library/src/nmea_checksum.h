// The NMEA checksum rule, for every sentence in and out: the XOR of the
// characters after the leading '$' up to the first '*', written as two
// upper-case hexadecimal digits. constexpr so that stored sentences are
// checked at compile time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvik::nmea {

inline constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

// XOR of the characters from position 1 up to the first '*' (or the end of
// the text when there is none, or `limit` characters).
constexpr unsigned checksum_value(const char* text, std::size_t limit = kNoLimit) {
    unsigned sum = 0;
    if (limit == 0 || text[0] == '\0') return 0;
    for (std::size_t i = 1; i < limit; ++i) {
        const char ch = text[i];
        if (ch == '*' || ch == '\0') break;
        sum ^= static_cast<unsigned char>(ch);
    }
    return sum;
}

// Two upper-case hexadecimal digits of value (0..255).
constexpr void checksum_digits(unsigned value, char out[2]) {
    constexpr char kHex[] = "0123456789ABCDEF";
    out[0] = kHex[(value >> 4) & 0xF];
    out[1] = kHex[value & 0xF];
}

// True when text is '$', a body, '*', the body's two digits and then exactly
// `tail` (e.g. "\r\n" for a sentence as it goes out).
constexpr bool sentence_checksum_ok(std::string_view text, std::string_view tail = {}) {
    const std::size_t star = text.find('*');
    if (text.empty() || text[0] != '$' || star == std::string_view::npos ||
        star + 3 + tail.size() != text.size())
        return false;
    char digits[2] = {};
    checksum_digits(checksum_value(text.data(), star + 1), digits);
    return text[star + 1] == digits[0] && text[star + 2] == digits[1] &&
           text.substr(star + 3) == tail;
}

// head ('$' and the body), '*', the two digits and tail.
inline std::string with_checksum(std::string_view head, std::string_view tail = "\r\n") {
    std::string out(head);
    char digits[2] = {};
    checksum_digits(checksum_value(out.c_str()), digits);
    out.push_back('*');
    out.append(digits, 2);
    out.append(tail);
    return out;
}

}  // namespace zorvik::nmea
