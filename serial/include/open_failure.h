// Why a port would not open: a reason code that comes back with the failed
// open itself, so that nobody opens a port a second time to find out.
#pragma once

#include <string>

#include "serial_port.h"

namespace zorvik::serial {

// The values are the library's ZORVIK_OPEN_* codes (ZorvikDll.h).
enum class OpenFailure : int {
    None = 0,           // the port opened
    NoName = 1,         // no port name was given
    Absent = 2,         // no device behind the name (a ttyS slot without a UART too)
    NoPermission = 3,   // the user may not use the device
    Held = 4,           // another program holds the port
    NotSerialPort = 5,  // the name leads to a file or device that is not a serial port
    Other = 6,          // the system refused for another reason
    // Ports on a serial device server:
    BadAddress = 7,        // rfc2217:// or tcp:// without a valid HOST:PORT
    UnknownHost = 8,       // the host name is not known
    Refused = 9,           // nothing listens there (connection refused)
    Unreachable = 10,      // no answer from the host within the bound
    NoComPortOption = 11,  // connected, but the server never took COM-port commands
    SettingsRefused = 12,  // the server answered another rate or format than asked
    ConnectionLost = 13,   // the server closed the connection while the port opened
    ServerBusy = 14,       // the server ended each connection at once: its device is held
};

// The reason for the system's code of a failed open (errno; GetLastError on Win32).
OpenFailure open_failure_for(int system_error);

// open_exclusive, with the reason of a failure in `failure` (None on success).
// A network port name (network_port.h) opens a connection to its server.
Port open_exclusive(const std::string& port_name, OpenFailure& failure);

// Installs raw 8N1-style line settings as configure() in serial_port.h
// describes. A local port reports None whatever the system did (a rate it
// does not know keeps the port's speed); a port on a device server reports
// why the server did not take the settings, awaiting its answers within a
// bound, and the caller closes that port.
OpenFailure configure(Handle h, const std::string& mode);

}  // namespace zorvik::serial
