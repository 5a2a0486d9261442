// Ephemeris upload internals: the frame walks of UpdateBE and UpdateLTE over a
// file already read into memory, with the time source, the port and the pauses
// passed in. UpdateBE/UpdateLTE run them with the library's port, clocks and real
// pauses; tests and the fuzz target run them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "ZorvikDll.h"

namespace zorvik::ephemeris {

inline constexpr std::size_t kBroadcastMinSize = ZORVIK_BE_MIN_SIZE;
inline constexpr std::size_t kBroadcastMaxSize = ZORVIK_BE_MAX_SIZE;
inline constexpr std::size_t kLongTermMinSize = ZORVIK_LTE_MIN_SIZE;
inline constexpr std::size_t kLongTermMaxSize = ZORVIK_LTE_MAX_SIZE;
// A frame (8 header bytes and the payload) longer than this is not sent.
inline constexpr std::size_t kMaxFrameSize = 1024;
// Seconds from the GPS epoch count to the files' time scale.
inline constexpr std::uint32_t kFileTimeOffset = 315964811u;
// A file or record with time T is valid while T <= now <= T + kValidSpan.
inline constexpr std::uint32_t kValidSpan = 14400u;

inline constexpr int kBroadcastFirstPauseMs = 1000;
inline constexpr int kBroadcastFramePauseMs = 150;
inline constexpr int kLongTermFramePauseMs = 100;
inline constexpr int kWriteFailedPauseMs = 1000;

struct CurrentTime {
    std::uint32_t now;   // on the files' time scale
    bool from_computer;  // the computer's clock was used (the receiver's year was below 2008)
};

struct UploadIo {
    // The current-time procedure; no value when no time is available.
    std::function<std::optional<CurrentTime>()> current_time;
    // The computer's UTC clock on the files' scale; no value when it converts to 0.
    std::function<std::optional<std::uint32_t>()> computer_time;
    // Writes one whole frame to the port; false when the write failed.
    std::function<bool(const std::uint8_t*, std::size_t)> write_frame;
    std::function<void(int ms)> pause;
};

// The library's own: GetGPSTime and the computer's clock, the open port, real sleeps.
UploadIo library_io();

// 1 when the file was valid now and its frames were sent, 0 otherwise.
int upload_broadcast(std::span<const std::uint8_t> file, const UploadIo& io);
// 1 when a record valid now was found and its frames were sent, 0 otherwise.
int upload_long_term(std::span<const std::uint8_t> file, const UploadIo& io);

// The first fault of the file's layout as the uploads walk it (a
// ZORVIK_EPHEMERIS_ result), without sending anything or reading a clock.
int check_broadcast(std::span<const std::uint8_t> file);
int check_long_term(std::span<const std::uint8_t> file);

// The layout check, then whether the upload would find frames valid now by
// io's clocks (ZORVIK_EPHEMERIS_EXPIRED, _NOT_YET or _NO_TIME when not).
int check_broadcast_now(std::span<const std::uint8_t> file, const UploadIo& io);
int check_long_term_now(std::span<const std::uint8_t> file, const UploadIo& io);

}  // namespace zorvik::ephemeris
