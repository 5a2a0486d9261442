// The receiver's VBI input frames: the sync pair 0x81 0xFF, two kind bytes,
// the payload length (16-bit little-endian), two more header bytes, then the
// payload. The ephemeris upload sends them; a command frame switches back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvik::vbi {

inline constexpr std::uint8_t kSync1 = 0x81;
inline constexpr std::uint8_t kSync2 = 0xFF;
inline constexpr std::size_t kHeaderSize = 8;

// Switches the receiver's input back to NMEA: kind 0x0B 0x00, payload length
// 2, 0xD0 0xFF, payload 0x21 0x02.
inline constexpr std::uint8_t kSwitchToNmea[10] = {kSync1, kSync2, 0x0B, 0x00, 0x02,
                                                   0x00,   0xD0,   0xFF, 0x21, 0x02};

}  // namespace zorvik::vbi
