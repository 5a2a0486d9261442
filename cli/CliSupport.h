// What every command of zorvik shares: the global options, how a failure
// leaves the program, and Ctrl-C.
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cli {

// Exit status: 0 success, 1 failure (one line on standard error), 2 usage error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The options given before the command.
struct Session {
    std::string port = "COM1";
    std::string baud = "9600";
    bool json = false;
};

// A failure whose text is the one line the user sees on standard error.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Ctrl-C (and SIGTERM) are counted rather than ending the process, so that
// every command can leave the receiver and the port in order.
void InstallInterruptCounter();
int InterruptCount();
inline bool Interrupted() {
    return InterruptCount() > 0;
}

// While it lives, Ctrl-C raises a cancel flag that the running procedure
// polls. With a warning, the first Ctrl-C only writes it (a line of its own
// on standard error) and the second cancels: for procedures that would leave
// the receiver damaged if cut short.
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

// The text without the blanks around it (the program pads some of its texts).
std::string Trimmed(std::string_view text);

// True when standard output is a terminal (progress bars, refresh in place).
bool StdoutIsTerminal();

}  // namespace cli
