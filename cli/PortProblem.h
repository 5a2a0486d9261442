// Why a port could not be opened, in words a user can act on.
#pragma once

#include <string>

namespace cli {

// The library's own text for a port it could not open, followed by the device
// behind the name and the reason found by a probe open of that device: absent,
// no permission (the dialout group), held by another program, or not a serial
// port.
std::string CannotOpenPortText(const std::string& port_name);

}  // namespace cli
