// The reasons for a failed open on POSIX, from errno as open_exclusive leaves it.
#include <cerrno>

#include "open_failure.h"

namespace zorvik::serial {

OpenFailure open_failure_for(int system_error) {
    switch (system_error) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
        case EIO:  // a ttyS name without a UART behind it
            return OpenFailure::Absent;
        case EACCES:
        case EPERM:
            return OpenFailure::NoPermission;
        case EBUSY:        // another user's exclusive open (TIOCEXCL)
        case EWOULDBLOCK:  // another program's lock
            return OpenFailure::Held;
        case ENOTTY:  // a plain file or a device that is no terminal
        case EISDIR:
            return OpenFailure::NotSerialPort;
        default:
            return OpenFailure::Other;
    }
}

}  // namespace zorvik::serial
