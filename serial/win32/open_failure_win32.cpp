// The reasons for a failed open on Win32, from GetLastError after CreateFileA.
#include <windows.h>

#include "open_failure.h"

namespace zorvik::serial {

OpenFailure open_failure_for(int system_error) {
    switch (static_cast<DWORD>(system_error)) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return OpenFailure::Absent;
        // A COM port that another program holds refuses every further open.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return OpenFailure::Held;
        default:
            return OpenFailure::Other;
    }
}

Handle open_exclusive(const std::string& port_name, OpenFailure& failure) {
    if (port_name.empty()) {
        failure = OpenFailure::NoName;
        return kInvalidHandle;
    }
    SetLastError(0);
    const Handle h = open_exclusive(port_name);
    failure = h == kInvalidHandle ? open_failure_for(static_cast<int>(GetLastError()))
                                  : OpenFailure::None;
    return h;
}

}  // namespace zorvik::serial
