#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "regular_file.h"

namespace zorvik::platform {

File open_regular_file(const char* file_name) {
    if (!file_name || !*file_name) return nullptr;
    struct stat info {};
    if (::stat(file_name, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    // The name may have been swapped for a FIFO since the stat: a
    // non-blocking open never waits for a writer, and fstat checks what was
    // really opened.
    const int fd = ::open(file_name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    File file(::fdopen(fd, "rb"));
    if (!file) ::close(fd);
    return file;
}

}  // namespace zorvik::platform
