// The calls that a port on a device server answers its own way: chosen by
// the handle (or the writer), which only the network backend's open gives out.
#include "device_backend.h"
#include "network_backend.h"

namespace zorvik::serial {

OpenFailure configure(Handle h, const std::string& mode) {
    if (is_network_handle(h)) return configure_network(h, mode);
    configure_device(h, mode);
    return OpenFailure::None;
}

void purge(Handle h, unsigned flags) {
    if (is_network_handle(h))
        purge_network(h, flags);
    else
        purge_device(h, flags);
}

void close_port(const Port& port) {
    if (is_network_handle(port.handle))
        close_network(port);
    else
        close_device(port);
}

long read_some(Handle h, void* buf, std::size_t n) {
    return is_network_handle(h) ? read_network(h, buf, n) : read_some_device(h, buf, n);
}

bool write_all(Handle writer, const void* data, std::size_t n) {
    return is_network_writer(writer) ? write_network(writer, data, n)
                                     : write_all_device(writer, data, n);
}

std::size_t queued_input(Handle h) {
    return is_network_handle(h) ? queued_input_network(h) : queued_input_device(h);
}

void drain(Handle h) {
    if (is_network_handle(h))
        drain_network(h);
    else
        drain_device(h);
}

bool device_gone(Handle h) {
    return is_network_handle(h) ? network_gone(h) : is_device_gone(h);
}

void release_device(Port& port) {
    if (is_network_handle(port.handle))
        release_network(port);
    else
        release_device_handles(port);
}

bool save_settings(Handle h, SavedSettings& out) {
    return is_network_handle(h) ? save_settings_network(h, out) : save_settings_device(h, out);
}

void restore_settings(Handle h, const SavedSettings& saved) {
    if (is_network_handle(h))
        restore_settings_network(h, saved);
    else
        restore_settings_device(h, saved);
}

long write_bound_ms(Handle h, std::size_t n) {
    return is_network_handle(h) ? write_bound_network(h, n) : write_bound_ms_device(h, n);
}

}  // namespace zorvik::serial
