// Virtual ports: a program (such as the receiver simulator) registers a
// pseudo-terminal under a port name as a symbolic link in one fixed directory,
// the way a virtual COM port driver does; the port list reads that directory.
#pragma once

#include <string>

namespace zorvik::serial {

// The fixed directory of registered virtual ports.
inline constexpr const char* kDefaultRegistryDir = "/tmp/zorvik-ports";

// The directory in use; tests point it elsewhere so that they do not meet a
// simulator that a user has running.
std::string registry_dir();
void set_registry_dir_for_testing(const std::string& dir);

}  // namespace zorvik::serial
