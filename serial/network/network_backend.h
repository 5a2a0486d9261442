// The network backend as the serial layer's dispatch sees it: the calls of
// serial_port.h on a handle (or writer) that open_network gave out.
#pragma once

#include <cstddef>
#include <string>

#include "network_port.h"
#include "open_failure.h"
#include "serial_port.h"

namespace zorvik::serial {

Port open_network(const std::string& port_name, OpenFailure& failure);
// True for a handle (a writer) open_network gave and close_network has not closed yet.
bool is_network_handle(Handle h);
bool is_network_writer(Handle writer);
OpenFailure configure_network(Handle h, const std::string& mode);
void purge_network(Handle h, unsigned flags);
void close_network(const Port& port);
long read_network(Handle h, void* buf, std::size_t n);
bool write_network(Handle writer, const void* data, std::size_t n);
std::size_t queued_input_network(Handle h);
void drain_network(Handle h);
bool network_gone(Handle h);
void release_network(Port& port);
bool save_settings_network(Handle h, SavedSettings& out);
void restore_settings_network(Handle h, const SavedSettings& saved);
long write_bound_network(Handle h, std::size_t n);

}  // namespace zorvik::serial
