#include <io.h>
#include <windows.h>

#include "regular_file.h"

namespace zorvik::platform {

File open_regular_file(const char* file_name) {
    if (!file_name || !*file_name) return nullptr;
    // Devices and pipes ("\\.\COM1", "\\.\pipe\x", "CON") are not files to send.
    const DWORD attributes = GetFileAttributesA(file_name);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return nullptr;
    File file(std::fopen(file_name, "rb"));
    if (!file) return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
    if (GetFileType(handle) != FILE_TYPE_DISK) return nullptr;
    return file;
}

}  // namespace zorvik::platform
