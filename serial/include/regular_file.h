// Opening the files a user names (firmware images, ephemeris files).
#pragma once

#include <cstdio>
#include <memory>

namespace zorvik::platform {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens file_name for binary reading when it is a regular file; null for
// anything else. A FIFO, a device or a directory is refused at once, without
// an open that could block for good or disturb a device.
File open_regular_file(const char* file_name);

}  // namespace zorvik::platform
