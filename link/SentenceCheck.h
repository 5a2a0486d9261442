// The one rule by which the program and zorvik decide whether a received line
// is acted on: only a sentence whose checksum holds reaches ParseNMEA. A line
// that fails is still shown and recorded, so the engineer sees the noise.
#pragma once

#include <string_view>

namespace zorvik::link {

// True for '$', a body, '*' and exactly two upper-case hexadecimal digits
// that match the body by the library's checksum rule, then only the line end.
// Judged on the bytes as received (the reader cuts two characters as the line
// end, which takes a digit from a sentence ending in a bare line feed). A
// sentence without a checksum fails: NMEA 0183 makes it mandatory, and a
// line hit by noise may lose its '*' as easily as any other byte.
bool ChecksumHolds(std::string_view raw);

}  // namespace zorvik::link
