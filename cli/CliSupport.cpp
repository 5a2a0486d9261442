#include "CliSupport.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace cli {

namespace {

std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs a lock-free counter");

extern "C" void CountInterrupt(int) {
    g_interrupts.fetch_add(1);
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

int InterruptCount() {
    return g_interrupts.load();
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace cli
