// The network backend as the serial layer's dispatch sees it.
#pragma once

#include <string>

#include "network_port.h"
#include "open_failure.h"
#include "serial_port.h"

namespace zorvik::serial {

Port open_network(const std::string& port_name, OpenFailure& failure);
// True for a handle open_network gave and close_network has not closed yet.
bool is_network_handle(Handle h);
OpenFailure configure_network(Handle h, const std::string& mode);
void purge_network(Handle h, unsigned flags);
void close_network(const Port& port);

}  // namespace zorvik::serial
