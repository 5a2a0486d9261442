// The firmware download run: file checks, the programming sentence at the NMEA
// rate, the boot loader at 115200, its NAK, the XMODEM-1K transfer and the
// return to the NMEA rate. Shared by the program's download dialog and the
// command line; speaks to the receiver only through ZorvikDll's C functions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ZorvikDll.h"
#include "zorvik/service/pacing.h"

namespace zorvik::service {

enum class FlashKind { Firmware = 0, Kernel = 1, Fsa = 2, AllImage = 3 };

// One flash area: its names and the file sizes it accepts (inclusive).
struct FlashKindRule {
    FlashKind kind;
    const char* status_name;  // the download dialog's list item: "FirmWare", "Flash Kernel", ...
    const char* short_name;   // the command line's word: "firmware", "kernel", "fsa", "all"
    std::uintmax_t min_size;
    std::uintmax_t max_size;
    const char* size_message;  // "Firmware size is not correct!(NG)", ...
};
const FlashKindRule& RuleFor(FlashKind kind);
// "firmware", "kernel", "fsa" or "all"; nothing for any other word.
std::optional<FlashKind> FlashKindFromName(std::string_view short_name);

// The texts a run shows, exactly as the program shows them.
namespace flash_text {
inline constexpr const char* kFileNotSelected = "File is not selected!(NG)";
inline constexpr const char* kCannotOpen = "Cannot open COM port!(NG)";
inline constexpr const char* kStarting = "Starting...";
inline constexpr const char* kErasing = "Flash is being erased...";
inline constexpr const char* kNakTimeout = "Waiting NAK Timeout...";
inline constexpr const char* kTransferring = "File is being transferred...";
inline constexpr const char* kUploadOk = "   File upload OK!(OK)";
inline constexpr const char* kBadWaitingTime = "Waiting Time must be a whole number of ms!(NG)";
inline constexpr const char* kCloseWarning = "Flash would be damaged! Are you sure?";
}  // namespace flash_text

// The boot loader talks at this rate, whatever the NMEA rate was.
inline constexpr const char* kLoaderBaudText = "115200";

// The NAK waiting time the dialog starts with, in milliseconds.
inline constexpr int kDefaultNakWaitMs = 5000;

// Start's file check: nothing when the file may be written into the kind's
// area, else the message to show (kFileNotSelected for an empty name, a
// missing or unreadable file or one that is not a regular file; the kind's
// size message for a wrong size).
std::optional<std::string> CheckFlashFile(FlashKind kind, const std::string& path);
// Why CheckFlashFile took the file as not selected, in a few words ("no such
// file", "a directory", "not a regular file", or the system's reason).
std::string UnselectedFileReason(const std::string& path);

// The "Waiting Time" text: decimal digits (surrounding blanks allowed) giving
// 0 to 2^31-1 milliseconds. False for anything else.
bool ParseWaitingTime(std::string_view text, int& out_ms);

// The status line for a result of Xmodem_1K (ZORVIK_XMODEM_OK is kUploadOk).
std::string XmodemResultText(int result);

// How the run closes and opens the port. Empty members mean COM_Close and
// COM_Open; the program passes its own, which keep the reader thread out of
// the way.
struct PortAccess {
    std::function<int(const std::string& port_name, const std::string& baud_text)> open;
    std::function<void()> close;
    // One read of at most one byte within the port's 100 ms read time-out: 1
    // with a byte, 0 without, -1 on a port error. Empty: the NAK wait listens
    // through PollingXmodem_NAK, a second at a time.
    std::function<int(std::uint8_t& byte)> read_byte;
};

struct FlashRequest {
    FlashKind kind = FlashKind::Firmware;
    std::string file;
    std::string port_name;
    std::string nmea_baud = "9600";  // the rate the receiver talks NMEA at
    // The NAK wait in milliseconds. Negative: the user's text was not a
    // number; the run then only puts the port back at the NMEA rate and fails
    // with kBadWaitingTime, sending nothing.
    int nak_wait_ms = kDefaultNakWaitMs;
    // The receiver is already in its boot loader (a run that failed after the
    // programming sentence): no programming sentence, the run starts at the
    // NAK wait at 115200 and ends at nmea_baud.
    bool in_boot_loader = false;
};

struct FlashProgress {
    int percent = 0;                 // XmodemPPInfo's percent_1k
    std::uintmax_t bytes_sent = 0;   // acknowledged file bytes (from the percentage)
    std::uintmax_t total_bytes = 0;  // the file's size
};

struct FlashHooks {
    // Each status line as the run reaches it (on the calling thread).
    std::function<void(const std::string& text)> status;
    // The port is about to be opened at this rate (the program's BaudRateText).
    std::function<void(const std::string& baud_text)> baud_changed;
    // During the transfer every 200 ms, from a helper thread while the calling
    // thread is inside Xmodem_1K; once more at its end, on the calling thread.
    std::function<void(const FlashProgress& progress)> progress;
    PortAccess port;
    Pacing pacing;
};

enum class FlashOutcome {
    Completed,  // every step ran; the port is open again at the NMEA rate
    Failed,     // stopped at a failure; `message` says which
    Cancelled,  // stopped on request; the port was not touched after that
};

struct FlashResult {
    FlashOutcome outcome = FlashOutcome::Failed;
    std::string message;    // the last status line shown
    int xmodem_result = 0;  // Xmodem_1K's result, 0 when no transfer ran
    bool Uploaded() const { return xmodem_result == ZORVIK_XMODEM_OK; }
};

// Runs the download on the calling thread (blocking, tens of seconds for a
// firmware image). The port must be open at request.nmea_baud; the caller
// keeps every other reader off it until the run returns. Does not check the
// file (see CheckFlashFile). A completed run whose transfer failed reports
// Completed with Uploaded() false: the port is back at the NMEA rate.
FlashResult RunFlash(const FlashRequest& request, const FlashHooks& hooks = {});

}  // namespace zorvik::service
