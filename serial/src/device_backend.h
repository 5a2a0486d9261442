// The platform backend's calls that a network port handles its own way; the
// public calls of the same names (port_dispatch.cpp) choose between the two.
#pragma once

#include <string>

#include "serial_port.h"

namespace zorvik::serial {

void configure_device(Handle h, const std::string& mode);
void purge_device(Handle h, unsigned flags);
void close_device(const Port& port);

}  // namespace zorvik::serial
