// open_exclusive with its reason: the system's code of the failed open, read
// right after it (open_exclusive makes no call that sets it afterwards).
#include "open_failure.h"

#include "network_backend.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace zorvik::serial {

namespace {

void clear_system_error() {
#ifdef _WIN32
    SetLastError(0);
#else
    errno = 0;
#endif
}

int system_error() {
#ifdef _WIN32
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

}  // namespace

Port open_exclusive(const std::string& port_name, OpenFailure& failure) {
    if (port_name.empty()) {
        failure = OpenFailure::NoName;
        return Port{};
    }
    if (is_network_port_name(port_name)) return open_network(port_name, failure);
    clear_system_error();
    const Port port = open_exclusive(port_name);
    failure = port.handle == kInvalidHandle ? open_failure_for(system_error()) : OpenFailure::None;
    return port;
}

}  // namespace zorvik::serial
