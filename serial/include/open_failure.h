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
};

// The reason for the system's code of a failed open (errno; GetLastError on Win32).
OpenFailure open_failure_for(int system_error);

// open_exclusive, with the reason of a failure in `failure` (None on success).
Port open_exclusive(const std::string& port_name, OpenFailure& failure);

}  // namespace zorvik::serial
