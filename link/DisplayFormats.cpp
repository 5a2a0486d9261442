#include "DisplayFormats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace zorvik::link::DisplayFormats {

std::string TwoDigitText(long long n) {
    if (n < 0) {
        // Only reachable with malformed input; unsigned arithmetic keeps the
        // most negative value from overflowing.
        unsigned long long magnitude = 0ULL - static_cast<unsigned long long>(n);
        std::string digits;
        while (magnitude > 0) {
            digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
            magnitude /= 10;
        }
        return "-" + (digits.size() < 2 ? "0" + digits : digits);
    }
    if (n == 0) return "00";
    std::string text;
    // Built from the lowest digit up.
    while (n > 0) {
        text.insert(text.begin(), static_cast<char>('0' + n % 10));
        n /= 10;
    }
    if (text.size() == 1) text.insert(text.begin(), '0');
    return text;
}

namespace {

// Significant decimal digits of |value| (no leading zero) and the decimal
// exponent of the first one: value = d0.d1d2... x 10^exponent.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal ToDecimal(double magnitude, int significant) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                std::chars_format::scientific, significant - 1);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    Decimal d;
    std::size_t e = text.find('e');
    for (std::size_t i = 0; i < e; ++i) {
        if (text[i] != '.') d.digits.push_back(text[i]);
    }
    std::string_view exp_text = text.substr(e + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), d.exponent);
    return d;
}

void StripTrailingZeros(std::string& digits) {
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

// First digit, the others after a point (none when there are none), "E" and
// the exponent without sign or leading zeros for positive exponents.
std::string ExponentForm(std::string digits, int exponent) {
    StripTrailingZeros(digits);
    std::string text(1, digits[0]);
    if (digits.size() > 1) text += "." + digits.substr(1);
    text += "E" + std::to_string(exponent);
    return text;
}

std::string NonFinite(double value) {
    if (std::isnan(value)) return "NAN";
    return value < 0 ? "-INF" : "INF";
}

}  // namespace

const char* const kPlainCaption = "Main Window   ";

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string_view FieldText(const char* field, std::size_t size) {
    if (field == nullptr) return {};
    return std::string_view(field, strnlen(field, size));
}

double number(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return 0.0;
    // Only digits, sign, point and exponent: from_chars would also take
    // "inf" and "nan", which are not decimal numbers.
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return 0.0;
    }
    double value = 0.0;
    auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return 0.0;
    if (!std::isfinite(value)) return 0.0;
    return value;
}

int integer(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return 0;
    return value;
}

std::string GeneralText(double value) {
    if (!std::isfinite(value)) return NonFinite(value);
    if (value == 0.0) return "0";
    const std::string sign = value < 0 ? "-" : "";
    Decimal d = ToDecimal(std::fabs(value), 15);
    StripTrailingZeros(d.digits);
    if (d.exponent < -4 || d.exponent >= 15) return sign + ExponentForm(d.digits, d.exponent);
    std::string text;
    if (d.exponent < 0) {
        text = "0." + std::string(static_cast<std::size_t>(-d.exponent - 1), '0') + d.digits;
    } else {
        const std::size_t whole = static_cast<std::size_t>(d.exponent) + 1;
        if (d.digits.size() <= whole) {
            text = d.digits + std::string(whole - d.digits.size(), '0');
        } else {
            text = d.digits.substr(0, whole) + "." + d.digits.substr(whole);
        }
    }
    return sign + text;
}

std::string OneDecimalText(double value) {
    if (!std::isfinite(value)) return NonFinite(value);
    if (value == 0.0) return "0.0";
    // Enough exact digits to round once, half away from zero, at the last
    // kept digit: four significant digits or one decimal, whichever is fewer.
    Decimal d = ToDecimal(std::fabs(value), 30);
    const int keep = std::min(4, d.exponent + 2);
    std::string kept;
    int exponent = d.exponent;
    if (keep < 0) return "0.0";
    if (keep == 0) {
        if (d.digits[0] < '5') return "0.0";
        kept = "1";
        exponent += 1;
    } else {
        kept = d.digits.substr(0, static_cast<std::size_t>(keep));
        if (d.digits[static_cast<std::size_t>(keep)] >= '5') {
            int i = keep - 1;
            while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') {
                kept[static_cast<std::size_t>(i)] = '0';
                --i;
            }
            if (i < 0) {
                kept.insert(kept.begin(), '1');
                exponent += 1;
            } else {
                ++kept[static_cast<std::size_t>(i)];
            }
        }
    }
    const std::string sign = value < 0 ? "-" : "";
    if (exponent + 1 > 4) return sign + ExponentForm(kept, exponent);
    auto digit_at = [&](int position) {
        // position 0 is the first significant digit, exponent its power of ten.
        if (position < 0 || position >= static_cast<int>(kept.size())) return '0';
        return kept[static_cast<std::size_t>(position)];
    };
    std::string whole;
    if (exponent < 0) {
        whole = "0";
    } else {
        for (int p = 0; p <= exponent; ++p) whole.push_back(digit_at(p));
    }
    const char tenth = digit_at(exponent + 1);
    if (whole == "0" && tenth == '0') return "0.0";
    return sign + whole + "." + tenth;
}

std::optional<double> ReceivedNumber(std::string_view field) {
    if (Trimmed(field).empty()) return std::nullopt;
    return number(field);
}

std::optional<double> ReceivedDop(float dop) {
    if (dop == 0.0f) return std::nullopt;
    return static_cast<double>(dop);
}

std::string TimeText(std::string_view utc_time) {
    if (Trimmed(utc_time).empty()) return {};
    auto part = [&](std::size_t pos, std::size_t len) {
        return pos < utc_time.size() ? utc_time.substr(pos, len) : std::string_view();
    };
    const double seconds = std::trunc(number(part(4, 4)));
    std::string seconds_text = GeneralText(seconds);
    if (seconds < 10) seconds_text = "0" + seconds_text;
    std::string text = "     ";
    text += part(0, 2);
    text += " : ";
    text += part(2, 2);
    text += " : ";
    text += seconds_text;
    return text;
}

std::string DateText(std::string_view utc_date) {
    if (Trimmed(utc_date).empty()) return {};
    auto part = [&](std::size_t pos, std::size_t len) {
        return pos < utc_date.size() ? utc_date.substr(pos, len) : std::string_view();
    };
    std::string text = "     ";
    text += part(2, 2);
    text += "/";
    text += part(0, 2);
    text += "/20";
    text += part(4, 2);
    return text;
}

namespace {

// The digits of a plain decimal text ("-2503.5000", "12.", ".5").
struct DecimalDigits {
    bool negative = false;
    std::string_view whole;
    std::string_view fraction;
};

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<DecimalDigits> SplitPlainDecimal(std::string_view text) {
    DecimalDigits d;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        d.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    d.whole = text.substr(0, point);
    if (point != std::string_view::npos) d.fraction = text.substr(point + 1);
    if ((d.whole.empty() && d.fraction.empty()) || !AllDigits(d.whole) || !AllDigits(d.fraction))
        return std::nullopt;
    return d;
}

long long DigitsValue(std::string_view digits) {
    long long value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

// Whole parts beyond any coordinate (a malformed field) are shown as zero.
constexpr std::size_t kMaxWholeDigits = 11;
// Minutes' decimals beyond these are cut: 10^-12 minute is far below the
// shown thousandth of a second, and the product below stays within 64 bits.
constexpr std::size_t kMaxFractionDigits = 12;
constexpr long long kThousandthsPerMinute = 60 * 1000;

Dms DmsOfDigits(const DecimalDigits& d) {
    Dms dms;
    dms.given = true;
    std::string_view whole = d.whole;
    while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
    if (whole.size() > kMaxWholeDigits) return dms;
    const std::string_view fraction = d.fraction.substr(0, kMaxFractionDigits);
    long long scale = 1;
    for (std::size_t i = 0; i < fraction.size(); ++i) scale *= 10;
    const long long w = DigitsValue(whole);
    const long long sign = d.negative ? -1 : 1;
    dms.degrees = sign * (w / 100);
    dms.minutes = sign * (w % 100);
    dms.thousandths = sign * (DigitsValue(fraction) * kThousandthsPerMinute / scale);
    return dms;
}

// A ddmm.mmmm (or dddmm.mmmm) text within max_degrees, minutes below 60.
bool PossibleCoordinate(std::string_view ddmm, long long max_degrees) {
    const auto digits = SplitPlainDecimal(Trimmed(ddmm));
    if (!digits || digits->negative || digits->whole.size() > kMaxWholeDigits) return false;
    const Dms dms = DmsOfDigits(*digits);
    if (dms.minutes >= 60) return false;
    const bool beyond_minutes =
        dms.minutes > 0 || digits->fraction.find_first_not_of('0') != std::string_view::npos;
    return dms.degrees < max_degrees || (dms.degrees == max_degrees && !beyond_minutes);
}

}  // namespace

bool PossiblePosition(std::string_view latitude, char lat_hemisphere, std::string_view longitude,
                      char lon_hemisphere) {
    constexpr long long kMaxLatitude = 90;
    constexpr long long kMaxLongitude = 180;
    return (lat_hemisphere == 'N' || lat_hemisphere == 'S') &&
           (lon_hemisphere == 'E' || lon_hemisphere == 'W') &&
           PossibleCoordinate(latitude, kMaxLatitude) &&
           PossibleCoordinate(longitude, kMaxLongitude);
}

Dms ToDms(std::string_view ddmm) {
    ddmm = Trimmed(ddmm);
    if (ddmm.empty()) return {};
    if (const auto digits = SplitPlainDecimal(ddmm)) return DmsOfDigits(*digits);
    // Any other number form (an exponent, or no number: 0) is first written
    // out plainly; room for the widest finite double.
    char plain[400];
    const auto written =
        std::to_chars(plain, plain + sizeof plain, number(ddmm), std::chars_format::fixed, 9);
    return DmsOfDigits(
        *SplitPlainDecimal(std::string_view(plain, static_cast<std::size_t>(written.ptr - plain))));
}

std::string SecondsText(long long thousandths) {
    const long long magnitude = thousandths < 0 ? -thousandths : thousandths;
    std::string decimals = std::to_string(magnitude % 1000);
    decimals.insert(0, 3 - decimals.size(), '0');
    std::string text = thousandths < 0 ? "-" : "";
    text += TwoDigitText(magnitude / 1000);
    text += "." + decimals;
    return text;
}

std::string MinutesSecondsText(const Dms& dms, char hemisphere) {
    if (!dms.given) return {};
    std::string text = TwoDigitText(dms.minutes).substr(0, 2);
    text += "'";
    text += SecondsText(dms.thousandths);
    text += "\" ";
    if (hemisphere != '\0') text += hemisphere;
    return text;
}

std::string LatitudeDegreesText(const Dms& dms) {
    if (!dms.given) return {};
    return "   " + TwoDigitText(dms.degrees).substr(0, 2);
}

std::string LongitudeDegreesText(const Dms& dms) {
    if (!dms.given) return {};
    return " " + TwoDigitText(dms.degrees);
}

namespace {

// The prefix and the formatted value, or nothing for a field left empty.
template <typename Format>
std::string Shown(const char* prefix, std::optional<double> value, Format format) {
    if (!value) return {};
    return prefix + format(*value);
}

}  // namespace

std::string SpeedText(std::string_view knots) {
    return Shown("  ", ReceivedNumber(knots),
                 [](double v) { return OneDecimalText(v * kKmhPerKnot); });
}

std::string CourseText(std::string_view course) {
    return Shown(" ", ReceivedNumber(course), GeneralText);
}

std::string AltitudeText(std::string_view altitude) {
    return Shown("         ", ReceivedNumber(altitude), OneDecimalText);
}

std::string DopText(float dop) {
    return Shown(" ", ReceivedDop(dop), OneDecimalText);
}

std::string VersionCaption(std::string_view fw_major, std::string_view fw_minor,
                           std::string_view kernel_major, std::string_view kernel_minor,
                           std::string_view fsa) {
    std::string text = kPlainCaption;
    text +=
        "[ F/W Ver: " + std::to_string(integer(fw_major)) + "." + std::to_string(integer(fw_minor));
    text += " ]  [ Kernel Ver: " + std::to_string(integer(kernel_major)) + "." +
            std::to_string(integer(kernel_minor));
    text += " ]  [ FSA Ver: ";
    text += fsa.substr(0, 4);
    text += " ]";
    return text;
}

std::string CustomerCaption(std::string_view customer_version) {
    std::string text = "Main Window  Customer FW Version : ";
    text += customer_version;
    return text;
}

}  // namespace zorvik::link::DisplayFormats
