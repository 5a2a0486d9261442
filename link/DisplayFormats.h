// DisplayFormats: how the live view turns the receiver state record's texts
// and numbers into the texts of its fields. Plain C++ (no Qt), so that every
// conversion can be checked on its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zorvik::link::DisplayFormats {

// 0 gives "00", 1 to 9 a leading "0" and the digit, 10 and above the plain
// decimal digits (121 gives "121"). Negative values keep their sign.
std::string TwoDigitText(long long n);

// Speed over ground comes in knots and is shown in km/h.
inline constexpr double kKmhPerKnot = 1.852;

// The text without leading and trailing blanks (spaces, tabs).
std::string_view Trimmed(std::string_view text);

// The text of a fixed-size record field: up to its first NUL, never past
// its end (a field that the sender filled completely has no NUL).
std::string_view FieldText(const char* field, std::size_t size);
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}

// The text read as a decimal number ("." as the decimal point, an optional
// exponent); an empty text or one that is not a number gives 0.
double number(std::string_view text);
// The text read as a decimal integer; a text that is not one gives 0.
int integer(std::string_view text);

// Shortest text with at most 15 significant digits; the exponent form
// ("1E-5", "1.5E15") below 1e-4 or from 1e15 on.
std::string GeneralText(double value);
// One digit after the point, at most four significant digits; more than
// four digits before the point give the exponent form (12345.6 -> 1.235E4).
std::string OneDecimalText(double value);

// A field the receiver left empty is shown empty: it is no reading of zero.
// The readings of the fields that may be left so, nullopt when empty.
std::optional<double> ReceivedNumber(std::string_view field);
// DOPs are held as numbers in the record, where 0 stands for an empty field
// (a DOP of zero cannot occur).
std::optional<double> ReceivedDop(float dop);

// "     hh : mm : ss" from the RMC time hhmmss.sss: the whole seconds received,
// cut (59.95 is still second 59).
std::string TimeText(std::string_view utc_time);
// "     mm/dd/20yy" from the RMC date ddmmyy.
std::string DateText(std::string_view utc_date);

// A latitude (ddmm.mmmm) or longitude (dddmm.mmmm) split into degrees,
// minutes and thousandths of an arc-second, cut. Worked out on the received
// digits rather than in binary floating point, whose rounding would move the
// last shown digit (2503.5000 must give 30.000, not 29.999).
struct Dms {
    bool given = false;  // false: the receiver left the field empty
    long long degrees = 0;
    long long minutes = 0;
    long long thousandths = 0;  // of an arc-second
};
Dms ToDms(std::string_view ddmm);
// A latitude (ddmm.mmmm) and longitude (dddmm.mmmm) that name a place on
// Earth: both plain decimals, minutes below 60, at most 90 and 180 degrees,
// hemispheres N or S and E or W. Anything else is never a valid position,
// whatever the sentence's status says; it is shown as the receiver sent it.
bool PossiblePosition(std::string_view latitude, char lat_hemisphere, std::string_view longitude,
                      char lon_hemisphere);
// Seconds as two whole digits, "." and three decimals: 07.397.
std::string SecondsText(long long thousandths);
// Minutes, "'", the seconds text, '"', one space and the hemisphere.
std::string MinutesSecondsText(const Dms& dms, char hemisphere);
// Edit3: three spaces and the first two digits of the latitude degrees.
std::string LatitudeDegreesText(const Dms& dms);
// Edit4: one space and all digits of the longitude degrees.
std::string LongitudeDegreesText(const Dms& dms);

// Edit14: two spaces and the speed over ground in km/h (from knots).
std::string SpeedText(std::string_view knots);
// Edit15: one space and the course in the general format.
std::string CourseText(std::string_view course);
// Edit13: nine spaces and the altitude in the one-decimal fixed format.
std::string AltitudeText(std::string_view altitude);
// Edit16 / Edit17: one space and the DOP in the one-decimal fixed format.
std::string DopText(float dop);

// The live view's captions.
extern const char* const kPlainCaption;  // "Main Window   "
std::string VersionCaption(std::string_view fw_major, std::string_view fw_minor,
                           std::string_view kernel_major, std::string_view kernel_minor,
                           std::string_view fsa);
std::string CustomerCaption(std::string_view customer_version);

}  // namespace zorvik::link::DisplayFormats
