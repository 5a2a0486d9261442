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

}  // namespace zorvik::serial
