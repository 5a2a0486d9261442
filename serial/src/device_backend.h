// The platform backend's calls on a local device. The public calls of
// serial_port.h (port_dispatch.cpp) choose between these and the network
// backend's by the handle.
#pragma once

#include <cstddef>
#include <string>

#include "serial_port.h"

namespace zorvik::serial {

void configure_device(Handle h, const std::string& mode);
void purge_device(Handle h, unsigned flags);
void close_device(const Port& port);
long read_some_device(Handle h, void* buf, std::size_t n);
bool write_all_device(Handle writer, const void* data, std::size_t n);
std::size_t queued_input_device(Handle h);
void drain_device(Handle h);
bool is_device_gone(Handle h);
void release_device_handles(Port& port);
bool save_settings_device(Handle h, SavedSettings& out);
void restore_settings_device(Handle h, const SavedSettings& saved);
long write_bound_ms_device(Handle h, std::size_t n);
// The size a Win32 network port's pipes are made with, by which the read
// side's calls of any copy of this layer know such a handle.
inline constexpr unsigned long kNetworkPipeSize = 0x11000;
// The name of the Win32 event a network port's relay sets for each delivery
// into the pipe whose read end is program_end.
std::string network_delivery_event_name(Handle program_end);
// The Win32 backend's write bound for n bytes at a line rate (0: the slowest).
long write_bound_at_rate(unsigned long baud, std::size_t n);

}  // namespace zorvik::serial
