#include "PortProblem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial_port.h"

namespace cli {

namespace {

std::string ReasonForErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device";
        case EACCES:
        case EPERM:
            return "permission denied (is the user in the dialout group?)";
        case EBUSY:
        case EWOULDBLOCK:
            return "in use by another program";
        default:
            return std::strerror(error);
    }
}

// Repeats the open the serial layer makes (without touching the line
// settings) and says where it stops.
std::string ProbeDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ReasonForErrno(errno);
    std::string reason;
    if (::isatty(fd) != 1)
        reason = "not a serial port";
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = ReasonForErrno(errno);
    else
        reason = "busy at the moment of the open, try again";
    ::close(fd);
    return reason;
}

}  // namespace

std::string CannotOpenPortText(const std::string& port_name) {
    const std::string text = "Cannot open " + port_name + " port !";
    if (port_name.empty()) return text + " (no port name given)";
    const std::string path = zorvik::serial::device_path(port_name);
    return text + " (" + path + ": " + ProbeDevice(path) + ")";
}

}  // namespace cli
