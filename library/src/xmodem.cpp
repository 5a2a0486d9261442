// The XMODEM transfer engine: files in 1024-byte blocks (Xmodem_1K), the loader
// images in 128-byte blocks (Xmodem), the ACK/NAK polls and the progress record.
//
// Every block carries the 8-bit arithmetic sum of its data bytes (also the
// 1024-byte ones); there is no CRC and no "C" handshake. The caller has seen the
// receiver's NAK before a transfer starts. There are no retries: a block that is
// not acknowledged within one second ends the transfer. EOT goes out in the same
// write as the last block, so that each block reaches the receiver as one burst.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <thread>

#include "ZorvikDll.h"
#include "loader_images.h"
#include "regular_file.h"
#include "serial_link.h"

namespace zorvik {
namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kPad = 0x1A;

constexpr auto kPollTime = std::chrono::milliseconds(1000);

// The progress record. The GUI thread reads it while a transfer runs on the
// download thread; each field is written and read whole.
struct Progress {
    std::atomic<std::int32_t> percent_1k{0};
    std::atomic<std::int32_t> percent_128{0};
    std::atomic<std::int32_t> nak_received{0};
};

Progress& progress() {
    static Progress p;
    return p;
}

// Waits up to one second for the given byte. Only a byte that arrives during
// this poll counts; any other byte is ignored.
int poll_for(std::uint8_t wanted, bool flag_nak) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    for (;;) {
        const auto before = clock::now();
        std::uint8_t byte = 0;
        if (port_read_byte(byte) == 1) {
            if (byte == wanted) {
                if (flag_nak) {
                    progress().nak_received.store(1);
                    progress().nak_received.store(0);
                }
                return 1;
            }
        } else if (clock::now() - before < std::chrono::milliseconds(5)) {
            // No port open (the read failed at once): do not spin for the rest
            // of the second.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (clock::now() - start >= kPollTime) return 0;
    }
}

// Fills one block: header, data (the tail beyond `count` padded with 0x1A),
// check byte and, for the last block, EOT. Returns the number of bytes to write.
// `data` already holds the `count` source bytes at block + 3.
std::size_t finish_block(std::uint8_t* block, std::uint8_t start_byte, std::uint8_t number,
                         std::size_t data_size, std::size_t count, bool last) {
    block[0] = start_byte;
    block[1] = number;
    block[2] = static_cast<std::uint8_t>(~number);
    std::uint8_t* data = block + 3;
    if (count < data_size) std::memset(data + count, kPad, data_size - count);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < data_size; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    block[3 + data_size] = sum;
    if (last) {
        block[4 + data_size] = kEot;
        return data_size + 5;
    }
    return data_size + 4;
}

// Progress in percent. Whole blocks are counted as acknowledged, so the count
// passes the size with the padded last block; the figure stops at 100.
std::int32_t percent_of(std::uint64_t acknowledged, std::uint64_t size) {
    if (size == 0) return 100;
    return static_cast<std::int32_t>(std::min(acknowledged, size) * 100 / size);
}

using platform::File;

// Opens a regular file for reading and takes its size; the file is closed when
// the handle goes out of scope, on every return.
File open_for_reading(const char* file_name, std::uint64_t& size) {
    File file = platform::open_regular_file(file_name);
    if (!file) return nullptr;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return nullptr;
    const long end = std::ftell(file.get());
    if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;
    size = static_cast<std::uint64_t>(end);
    return file;
}

}  // namespace
}  // namespace zorvik

using zorvik::progress;

extern "C" {

ZORVIK_API int PollingXmodem_ACK(void) {
    return zorvik::poll_for(zorvik::kAck, false);
}

ZORVIK_API int PollingXmodem_NAK(void) {
    return zorvik::poll_for(zorvik::kNak, true);
}

ZORVIK_API int Xmodem_1K(const char* file_name) {
    using namespace zorvik;
    constexpr std::size_t kData = 1024;

    std::uint64_t size = 0;
    File file = open_for_reading(file_name, size);
    if (!file) return ZORVIK_XMODEM_FILE_CANNOT_OPEN;

    std::uint8_t block[kData + 5];
    std::uint64_t total_read = 0;
    std::uint64_t acknowledged = 0;
    std::uint8_t number = 0;
    for (;;) {
        number = static_cast<std::uint8_t>(number + 1);
        std::memset(block + 3, 0, kData);
        const std::size_t count = std::fread(block + 3, 1, kData, file.get());
        total_read += count;
        // A read error, or a file that shrank since it was opened: an image cut
        // short must not go out as a complete one, so nothing more is sent (and
        // no EOT); the receiver's loader times out by itself.
        if (std::ferror(file.get()) || (count < kData && total_read < size)) {
            return ZORVIK_XMODEM_FILE_CANNOT_OPEN;
        }
        if (count == 0) {
            // Only the empty file gets here: every other file ends with a block
            // marked as the last. The poll takes the receiver's answer.
            return PollingXmodem_ACK() == 1 ? ZORVIK_XMODEM_OK : ZORVIK_XMODEM_NO_ACK;
        }
        const bool last = count < kData || total_read >= size;
        const std::size_t n = finish_block(block, kStx, number, kData, count, last);
        if (!port_write(block, n)) return ZORVIK_XMODEM_WRITE_FAILED;
        if (PollingXmodem_ACK() != 1) return ZORVIK_XMODEM_NO_ACK;
        acknowledged += kData;
        progress().percent_1k.store(percent_of(acknowledged, size));
        if (last) {
            // The EOT went out with this block; its acknowledgement ends the transfer.
            // Bytes that the file gained since it was opened are not sent after EOT.
            return PollingXmodem_ACK() == 1 ? ZORVIK_XMODEM_OK : ZORVIK_XMODEM_NO_ACK;
        }
    }
}

ZORVIK_API int Xmodem(int image) {
    using namespace zorvik;
    constexpr std::size_t kData = 128;

    const std::span<const std::uint8_t> bytes = loader_image(image);
    const std::size_t size = bytes.size();
    std::uint8_t block[kData + 5];
    std::size_t offset = 0;
    std::uint64_t acknowledged = 0;
    std::uint8_t number = 0;
    while (offset < size) {
        number = static_cast<std::uint8_t>(number + 1);
        const std::size_t count = std::min(kData, size - offset);
        std::memcpy(block + 3, bytes.data() + offset, count);
        offset += count;
        const bool last = count < kData || offset == size;
        const std::size_t n = finish_block(block, kSoh, number, kData, count, last);
        if (!port_write(block, n)) return ZORVIK_XMODEM_WRITE_FAILED;
        if (PollingXmodem_ACK() != 1) return ZORVIK_XMODEM_IMAGE_NO_ACK;
        acknowledged += kData;
        progress().percent_128.store(percent_of(acknowledged, size));
    }
    return ZORVIK_XMODEM_IMAGE_OK;
}

ZORVIK_API void GetXmodemPP(XmodemPPInfo* info) {
    if (!info) return;
    info->percent_1k = progress().percent_1k.load();
    info->percent_128 = progress().percent_128.load();
}

ZORVIK_API void GetXmodemPPInfo(XmodemPPInfo* info) {
    if (!info) return;
    info->percent_1k = progress().percent_1k.load();
    info->percent_128 = progress().percent_128.load();
    info->nak_received = progress().nak_received.load();
}

}  // extern "C"
