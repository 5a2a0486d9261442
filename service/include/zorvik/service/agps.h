// The A-GPS tools: fetching ephemeris files from the A-GPS server, and their
// upload into the receiver with its input switched to VBI and back. Shared by
// the program's BE and LTE tools and the command line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ZorvikDll.h"
#include "zorvik/service/pacing.h"

namespace zorvik::service {

enum class AgpsKind { BE, LTE };

// The largest file each kind may be: the upload refuses anything larger.
inline constexpr std::uintmax_t kBEFileLimit = ZORVIK_BE_MAX_SIZE;
inline constexpr std::uintmax_t kLTEFileLimit = ZORVIK_LTE_MAX_SIZE;
std::uintmax_t AgpsFileLimit(AgpsKind kind);
// How long a download may take before it is given up.
inline constexpr int kAgpsDownloadTimeoutMs = 15000;

// Scheme, host and port of the build's A-GPS server, e.g. "http://127.0.0.1:8089".
std::string DefaultAgpsHost();
// host (trailing '/' dropped) followed by the fixed path and query of the
// request for one kind, with the build's credentials.
std::string AgpsRequestAddress(AgpsKind kind, std::string_view host);
// True for "http://" or "https://" followed by a host (and port) without a
// path, query or fragment; one trailing '/' is allowed.
bool IsAgpsHost(std::string_view host);
// "BE.bin" or "LTE.bin" (relative to the current directory).
std::string AgpsLocalFileName(AgpsKind kind);

enum class AgpsResult {
    Ok,            // the file was fetched whole and replaced the local one
    NetworkError,  // no connection, bad address, HTTP error status, broken answer
    TooLarge,      // the answer exceeded the kind's size limit
    Empty,         // the server answered with no data
    TimedOut,      // the server did not finish within the time limit
    WriteError,    // the local file could not be written
    Cancelled,     // stopped on request
    BadAddress,    // the host is not "scheme://host[:port]" with scheme http or https
    NotEphemeris,  // the answer arrived but is not a file of the kind's layout
    NotValidNow,   // a file of the kind, but the upload would find nothing valid now in it
};
// One line for the user, e.g. "A-GPS download failed: the server did not answer in time".
std::string AgpsResultText(AgpsResult result);

struct AgpsDownloadOutcome {
    AgpsResult result = AgpsResult::NetworkError;
    // One line for the user: AgpsResultText, or for NotEphemeris and
    // NotValidNow the file and why, e.g. "BE.bin kept: the answer is not a broadcast ephemeris file
    // (46 bytes, fewer than 2048)".
    std::string message;
};

struct AgpsDownloadRequest {
    AgpsKind kind = AgpsKind::BE;
    std::string host;  // empty: DefaultAgpsHost()
    std::string file;  // empty: AgpsLocalFileName(kind)
    int timeout_ms = kAgpsDownloadTimeoutMs;
};

// Fetches the kind's request address into the file. The answer goes to a
// temporary file beside it, which replaces the file only once the whole
// answer has arrived within the limits, has the layout the upload reads
// and holds frames valid now by the upload's own rule (CheckBENow,
// CheckLTENow: an expired file must not replace a good one); any failure leaves an older file as it
// was and no temporary file behind. Blocks the calling thread; safe to run on any thread. `cancel`
// may be null.
AgpsDownloadOutcome DownloadAgpsFile(const AgpsDownloadRequest& request,
                                     const std::atomic<bool>* cancel = nullptr);

// The upload dialogs' message lines, exactly as the program shows them.
namespace agps_text {
inline constexpr const char* kBEStarting = " Updating Eph. now.";
inline constexpr const char* kBENoFile = " No BE file existing!";
inline constexpr const char* kBEOk = "BE file update OK!";
inline constexpr const char* kBEFailed = " BE file update failed!(NG)";
inline constexpr const char* kLTEStarting = " ";
inline constexpr const char* kLTENoFile = " No LTE file existing!";
inline constexpr const char* kLTEOk = "LTE File update OK!";
inline constexpr const char* kLTEFailed = " LTE file update failed!(NG)";
}  // namespace agps_text

enum class UploadResult {
    Ok,         // the library sent the valid frames and the receiver answers again
    NoFile,     // the file cannot be opened
    Refused,    // the library refused the file (expired, too small, no frames) or a write failed
    Cancelled,  // stopped during the pause before the upload; the switch back was sent
    NoAnswer,   // the frames went out, but the receiver did not answer after the switch back
};

// How long the receiver may take to answer the version query after the
// switch back to NMEA input. It answers well within a second, but the query
// leaves behind the last frames still in the driver's output queue (a few
// kilobytes take seconds at 9600 bps).
inline constexpr int kSwitchBackAnswerMs = 5000;

struct UploadOutcome {
    UploadResult result = UploadResult::Refused;
    std::string message;  // the dialog's final message line
};

struct UploadHooks {
    // The message line before the upload starts (kBEStarting, kLTEStarting).
    std::function<void(const std::string& text)> status;
    Pacing pacing;
    // After the switch back the procedure asks for the receiver's version
    // (CMD_FWVersion): an answer shows that the receiver heard the switch
    // back, and the frames. This waits up to timeout_ms for the reply to
    // raise parse_fw_ver_done and says whether it did. Empty: the state
    // record is polled, for a caller whose reader parses on another thread.
    std::function<bool(int timeout_ms)> await_version_reply;
    // Right before that query: what the receiver sent during the upload is
    // stale. A reader that fell behind meanwhile (the program's, while the
    // upload holds its GUI thread) drops its whole backlog once it reads
    // again, and the reply with it unless the backlog is gone first.
    std::function<void()> drop_stale_input;
};

// The BE dialog's Start: switch the receiver's input to VBI, 500 ms, UpdateBE
// on the file, then the switch back to NMEA input, always; an upload counts
// only once the receiver answers after it. The port must be open.
UploadOutcome UploadBE(const std::string& file, const UploadHooks& hooks = {});
// The LTE dialog's Start: the same with a 200 ms pause and UpdateLTE; the
// switch back comes after the message.
UploadOutcome UploadLTE(const std::string& file, const UploadHooks& hooks = {});
// The one matching the kind.
UploadOutcome UploadEphemeris(AgpsKind kind, const std::string& file,
                              const UploadHooks& hooks = {});

}  // namespace zorvik::service
