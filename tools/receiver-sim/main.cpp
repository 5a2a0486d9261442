// receiver-sim: plays a GPS receiver module on a pseudo-terminal (or a real
// tty) so that the program can be run, shown and tested without hardware.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "options.h"
#include "port.h"
#include "port_registry.h"
#include "receiver.h"
#include "report.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) {
    g_stop = 1;
}

double monotonic_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void install_signal_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int fail(const std::string& error) {
    std::fprintf(stderr, "receiver-sim: %s\n", error.c_str());
    return 1;
}

// Serves the port until a signal, the end of the starting process (with
// --exit-with-parent) or the loss of the port; returns the exit status.
int serve(sim::Receiver& receiver, sim::Port& port, const sim::Options& options, double start,
          pid_t parent) {
    std::uint8_t buf[4096];
    double next_parent_check = start + 1.0;
    while (!g_stop) {
        const double now = monotonic_seconds();
        const double vanish = options.faults.vanish_after_seconds;
        if (vanish >= 0 && now - start >= vanish) _exit(3);  // no cleanup: the port vanishes
        if (options.exit_with_parent && now >= next_parent_check) {
            next_parent_check = now + 0.5;
            if (getppid() != parent) return 0;
        }
        const double wait = receiver.tick(now);
        const double deaf = options.faults.deaf_after_seconds;
        const bool reading = deaf < 0 || now - start < deaf;
        pollfd p{port.fd(), static_cast<short>(reading ? POLLIN : 0), 0};
        const int timeout_ms = static_cast<int>(std::ceil(std::max(0.0, wait) * 1000.0));
        const int r = poll(&p, 1, timeout_ms);
        if (r > 0 && (p.revents & POLLIN)) {
            const long n = port.read_some(buf, sizeof buf);
            if (n < 0) {
                std::fprintf(stderr, "receiver-sim: %s is gone\n", port.device().c_str());
                return 1;
            }
            receiver.on_input(buf, static_cast<std::size_t>(n), monotonic_seconds());
        } else if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) {
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    if (const int status = sim::parse_options(argc, argv, options); status >= 0) return status;
    std::string error;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    install_signal_handlers();
    const pid_t parent = getppid();

    sim::Recording recording;
    if (!options.replay.empty() && !recording.load(options.replay, error)) return fail(error);
    sim::Port port = options.tty.empty() ? sim::Port::create_pty(options.baud, error)
                                         : sim::Port::open_tty(options.tty, options.baud, error);
    if (!port.valid()) return fail(error);
    sim::Report report;
    if (!report.open(options.report)) return fail("cannot open report " + options.report);
    sim::Registration registration;
    const bool do_register = options.do_register && options.tty.empty();
    if (options.registry_dir.empty()) options.registry_dir = zorvik::serial::registry_dir();
    if (do_register &&
        !registration.create(options.registry_dir, options.port_name, port.device(), error))
        return fail(error);

    const double start = monotonic_seconds();
    sim::Receiver receiver(options, port, report, start);
    report.emit(sim::JsonLine("start")
                    .str("device", port.device())
                    .num("baud", options.baud)
                    .str("port", do_register ? options.port_name : "")
                    .num("pid", getpid())
                    .real("time_scale", options.time_scale));
    if (!options.replay.empty()) receiver.play(recording, options.replay_loop);
    std::printf("device %s\n", port.device().c_str());
    if (do_register) std::printf("port %s\n", options.port_name.c_str());
    std::printf("ready\n");
    std::fflush(stdout);

    const int exit_code = serve(receiver, port, options, start, parent);
    report.emit(sim::JsonLine("stop"));
    registration.remove();
    return exit_code;
}
