// The calls that a port on a device server answers its own way: chosen by
// the handle, which only the network backend's open gives out.
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

}  // namespace zorvik::serial
