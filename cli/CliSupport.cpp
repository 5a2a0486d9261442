#include "CliSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "DisplayFormats.h"

namespace cli {

namespace DisplayFormats = zorvik::link::DisplayFormats;

namespace {

std::atomic<int> g_stop_signal{0};
std::atomic<bool> g_warned{false};
std::atomic<const char*> g_warning{nullptr};
std::atomic<std::atomic<bool>*> g_cancel{nullptr};
static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<const char*>::is_always_lock_free &&
                  std::atomic<std::atomic<bool>*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

void WriteToStderr(const char* text) {
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text, std::strlen(text));
}

// Only async-signal-safe work here: lock-free atomics and write(2).
extern "C" void OnStopSignal(int signal) {
    const char* warning = g_warning.load();
    if (signal == SIGINT && warning != nullptr && !g_warned.exchange(true)) {
        WriteToStderr("\n");
        WriteToStderr(warning);
        WriteToStderr(" (Ctrl-C again cancels)\n");
        return;
    }
    int none = 0;
    if (!g_stop_signal.compare_exchange_strong(none, signal)) return;
    std::atomic<bool>* cancel = g_cancel.load();
    if (cancel == nullptr) return;
    // A library call already running (a transfer, an upload) ends first.
    cancel->store(true);
    WriteToStderr("\nCancelling at the next safe step...\n");
}

}  // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return g_stop_signal.load() != 0;
}

int StopSignal() {
    return g_stop_signal.load();
}

int StopExitCode() {
    switch (StopSignal()) {
        case SIGTERM:
            return kExitTerminated;
        case SIGHUP:
            return kExitHungUp;
    }
    return kExitInterrupted;
}

void ThrowIfStopped(const std::string& what) {
    if (!StopRequested()) return;
    const int signal = StopSignal();
    const char* by = signal == SIGTERM  ? "SIGTERM"
                     : signal == SIGHUP ? "SIGHUP: the terminal or session went away"
                                        : "Ctrl-C";
    throw Stopped(what + " cancelled (" + by + ")");
}

CancelOnInterrupt::CancelOnInterrupt(const char* warning) {
    cancel_.store(StopRequested());
    g_warned.store(false);
    g_warning.store(warning);
    g_cancel.store(&cancel_);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    g_cancel.store(nullptr);
    g_warning.store(nullptr);
}

std::string ErrorLine(const Session& session, const std::string& message) {
    const bool names_port = session.relayed || message.find(session.port) != std::string::npos;
    return "zorvik: " + (names_port ? message : session.port + ": " + message);
}

void Notice(const Session& session, const std::string& text) {
    std::cerr << ErrorLine(session, text) << std::endl;
}

void HoldStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open(2) takes the lowest free number, which is fd.
        const int held = ::open("/dev/null", O_RDONLY);
        if (held != fd) {
            WriteToStderr("zorvik: cannot hold a closed standard descriptor on /dev/null\n");
            std::_Exit(kExitFailure);
        }
    }
}

void RequireOutputWritten() {
    if (std::cout.flush()) return;
    const int error = errno;
    throw Failure(std::string("Cannot write the result to standard output") +
                  (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
}

std::string Trimmed(std::string_view text) {
    return std::string(DisplayFormats::Trimmed(text));
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace cli
