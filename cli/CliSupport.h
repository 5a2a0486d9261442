// What every command of zorvik shares: the global options, how a failure
// leaves the program, and the stop signals.
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Exit status: 0 success, 1 failure (one line on standard error), 2 usage
// error, 128 + the signal for a run that a stop signal cancelled.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // SIGINT
inline constexpr int kExitTerminated = 143;   // SIGTERM
inline constexpr int kExitHungUp = 129;       // SIGHUP: the terminal or session went away

// Without --timeout, the longest any step waits for the receiver to speak or answer.
inline constexpr double kDefaultTimeoutSeconds = 5.0;

// The options given before the command.
struct Session {
    std::vector<std::string> ports;  // every -p, in order
    std::string port = "COM1";       // the one this process serves
    std::string baud = "9600";       // a rate of the list, or "auto"
    bool json = false;
    double timeout = kDefaultTimeoutSeconds;
    // Set by the process that runs one process per port: its relay puts the
    // port in front of every line, so this one leaves it out.
    bool relayed = false;
    // For agps under a relay: "fresh" when the relay's download replaced the
    // file, else why that download failed. Empty: this process downloads.
    std::string relay_download;
};

// A failure whose text is the one line the user sees on standard error.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A run that a stop signal ended before it was done; exits 128 + the signal.
class Stopped : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// SIGINT, SIGTERM and SIGHUP ask the run to stop rather than ending the
// process, so that every command can leave the receiver and the port in
// order. They stop at the next safe step; within a CancelOnInterrupt that has
// a warning, the first Ctrl-C only writes the warning. SIGPIPE is ignored: a
// reader that went away shows as a failed write, which is said.
void InstallStopSignals();
// True once a stop was asked for (the reading loops end on it).
bool StopRequested();
inline bool Interrupted() {
    return StopRequested();
}
// The signal that asked to stop (SIGINT, SIGTERM or SIGHUP), 0 when none did.
int StopSignal();
// 130 after SIGINT, 143 after SIGTERM, 129 after SIGHUP.
int StopExitCode();
// Throws Stopped saying what was cut short, once a stop was asked for.
void ThrowIfStopped(const std::string& what);

// While it lives, a stop raises a cancel flag that the running procedure
// polls. With a warning, the first Ctrl-C only writes it (a line of its own
// on standard error) and the second cancels: for procedures that would leave
// the receiver damaged if cut short. SIGTERM cancels at once.
class CancelOnInterrupt {
  public:
    explicit CancelOnInterrupt(const char* warning = nullptr);
    ~CancelOnInterrupt();
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

    const std::atomic<bool>* Flag() const { return &cancel_; }

  private:
    std::atomic<bool> cancel_{false};
};

// "zorvik: " and the message, naming the port unless the message does (or a
// relay puts it in front).
std::string ErrorLine(const Session& session, const std::string& message);
// A progress or warning line on standard error, in the same form.
void Notice(const Session& session, const std::string& text);

// Gives each of descriptors 0 to 2 that is closed at start a descriptor on
// /dev/null, so that no port or file opened later takes its number (a port
// opened as descriptor 1 would receive the output as commands). A closed
// standard output or error stays unwritable: its stand-in is read-only, so a
// result written there fails as on /dev/full.
void HoldStandardDescriptors();

// Throws Failure when standard output could not take what was written.
void RequireOutputWritten();

// The text without the blanks around it (the program pads some of its texts).
std::string Trimmed(std::string_view text);

// True when standard error is a terminal (progress bars refreshed in place).
bool StderrIsTerminal();
// True when standard output is a terminal (monitor refreshes in place).
bool StdoutIsTerminal();

}  // namespace cli
