// Any bytes as a broadcast or long-term ephemeris file, walked with the upload's
// own frame walk. The first nine input bytes choose the file kind and the
// current times; the rest is the file, held in a buffer of exactly its size so
// that any access outside it is caught. Frames handed to the port must lie
// inside the file and stay within the frame limit; there are no real pauses.
// The layout check runs on the same bytes and must agree with the walk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "zorvik_testing.h"

namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorvik::ephemeris;
    if (size < 9) return 0;
    // Byte 0: bit 0 long-term file, bit 1 no current time, bit 2 the current time
    // came from the computer, bit 3 no computer time.
    const std::uint8_t mode = data[0];
    const std::uint32_t now = le32(data + 1);
    const std::uint32_t computer = le32(data + 5);
    const std::size_t file_size = size - 9;
    auto file = std::make_unique<std::uint8_t[]>(file_size ? file_size : 1);
    std::memcpy(file.get(), data + 9, file_size);
    const std::uint8_t* begin = file.get();
    const std::uint8_t* end = begin + file_size;

    UploadIo io;
    io.current_time = [&]() -> std::optional<CurrentTime> {
        if (mode & 2) return std::nullopt;
        return CurrentTime{now, (mode & 4) != 0};
    };
    int computer_reads = 0;
    io.computer_time = [&]() -> std::optional<std::uint32_t> {
        if (++computer_reads > 1) std::abort();  // the file is scanned at most twice
        if (mode & 8) return std::nullopt;
        return computer;
    };
    std::size_t frames = 0;
    io.write_frame = [&](const std::uint8_t* frame, std::size_t n) {
        if (frame < begin || n > static_cast<std::size_t>(end - frame)) std::abort();
        if (n < zorvik::vbi::kHeaderSize || n > kMaxFrameSize || frame[0] != zorvik::vbi::kSync1 ||
            frame[1] != zorvik::vbi::kSync2)
            std::abort();
        ++frames;
        return true;
    };
    io.pause = [](int) {};

    const std::span<const std::uint8_t> bytes(begin, file_size);
    const int result = (mode & 1) ? upload_long_term(bytes, io) : upload_broadcast(bytes, io);
    if (result != 0 && result != 1) std::abort();
    // A file the layout check passes is never refused part way: the upload
    // sends its frames whole or, for its time, none at all.
    const int layout = (mode & 1) ? check_long_term(bytes) : check_broadcast(bytes);
    if (layout < ZORVIK_EPHEMERIS_OK || layout > ZORVIK_EPHEMERIS_BAD_FRAME) std::abort();
    if (layout == ZORVIK_EPHEMERIS_OK && result == 0 && frames > 0) std::abort();
    return 0;
}
