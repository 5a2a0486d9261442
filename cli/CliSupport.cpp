#include "CliSupport.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "DisplayFormats.h"

namespace cli {

namespace {

std::atomic<int> g_interrupts{0};
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
extern "C" void CountInterrupt(int) {
    const int count = g_interrupts.fetch_add(1) + 1;
    const char* warning = g_warning.load();
    std::atomic<bool>* cancel = g_cancel.load();
    if (cancel == nullptr) return;
    if (warning != nullptr && count == 1) {
        WriteToStderr("\n");
        WriteToStderr(warning);
        WriteToStderr(" (Ctrl-C again cancels)\n");
        return;
    }
    // A library call already running (a transfer, an upload) ends first.
    if (!cancel->exchange(true)) WriteToStderr("\nCancelling at the next step...\n");
}

}  // namespace

void InstallInterruptCounter() {
    struct sigaction action {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

CancelOnInterrupt::CancelOnInterrupt(const char* warning) {
    g_warning.store(warning);
    g_cancel.store(&cancel_);
}

CancelOnInterrupt::~CancelOnInterrupt() {
    g_cancel.store(nullptr);
    g_warning.store(nullptr);
}

int InterruptCount() {
    return g_interrupts.load();
}

std::string Trimmed(std::string_view text) {
    return std::string(DisplayFormats::Trimmed(text));
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace cli
