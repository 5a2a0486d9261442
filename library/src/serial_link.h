// The library's one serial port, as the command, XMODEM and ephemeris units use it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvik {

// Writes n bytes to the open port in one call; nonzero when they were handed
// to the port, 0 when the write failed (no port open, device gone).
int port_write(const void* data, std::size_t n);

// Reads one byte, waiting at most one read time-out (100 ms). 1 with a byte
// in out, 0 when none arrived or no port is open.
int port_read_byte(std::uint8_t& out);

}  // namespace zorvik
