#include "options.h"

#include <cstdlib>
#include <string_view>

#include "port.h"

namespace sim {

namespace {

bool to_int(const std::string& s, long long lo, long long hi, long long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool to_real(const std::string& s, double lo, double hi, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

bool parse_faults(const std::string& list, Faults& f, std::string& error) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const std::string item = list.substr(start, comma - start);
        start = comma + 1;
        if (item.empty()) continue;
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        long long n = 0;
        double d = 0;
        if (name == "garbage")
            f.garbage = true;
        else if (name == "badsum")
            f.badsum = true;
        else if (name == "longline")
            f.longline = true;
        else if (name == "burst")
            f.burst = true;
        else if (name == "silent")
            f.silent = true;
        else if (name == "no-nak")
            f.no_nak = true;
        else if (name == "vanish-after-blocks" && to_int(value, 0, 1000000, n))
            f.vanish_after_blocks = static_cast<int>(n);
        else if (name == "vanish-after-seconds" && to_real(value, 0, 1e7, d))
            f.vanish_after_seconds = d;
        else if (name == "deaf" && value.empty())
            f.deaf_after_seconds = 0;
        else if (name == "deaf-after-seconds" && to_real(value, 0, 1e7, d))
            f.deaf_after_seconds = d;
        else {
            error = "unknown fault '" + item + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

std::string usage() {
    return "usage: receiver-sim [options]\n"
           "  --port-name NAME      register the pty as virtual port NAME (default COM1)\n"
           "  --registry-dir DIR    directory of the registration links (default: the\n"
           "                        user's own, $XDG_RUNTIME_DIR/zorvik-ports or\n"
           "                        /tmp/zorvik-ports-<uid>)\n"
           "  --no-register         do not register\n"
           "  --tty PATH            work on a real tty instead of a pseudo-terminal\n"
           "  --baud N              initial rate (default 9600)\n"
           "  --time-scale F        multiply simulated durations by F (default 1.0)\n"
           "  --report FILE         append JSON lines of what was received and done\n"
           "  --image-out FILE      where the boot loader writes the received image\n"
           "  --fault LIST          garbage,badsum,longline,burst,silent,no-nak,\n"
           "                        vanish-after-blocks=N,vanish-after-seconds=S,\n"
           "                        deaf,deaf-after-seconds=S (stop reading the port)\n"
           "  --seed N              seed of the sky model and the faults (default 1)\n"
           "  --customer-version T  text of the customer version reply\n"
           "  --erase-seconds S     boot loader erase time before scaling (default 2)\n"
           "  --loader-timeout S    seconds the boot loader waits for data (default 60)\n"
           "  --exit-with-parent    end when the starting process ends\n"
           "  --replay FILE         play the NMEA sentences of a recording (a capture or a\n"
           "                        log), one epoch a second, instead of the sky model;\n"
           "                        commands are still answered; output stops at its end\n"
           "  --loop                with --replay: start the recording again at its end\n";
}

bool parse_options(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            error.clear();
            return false;
        } else if (arg == "--port-name") {
            if (!value(o.port_name)) return false;
        } else if (arg == "--registry-dir") {
            if (!value(o.registry_dir)) return false;
        } else if (arg == "--no-register") {
            o.do_register = false;
        } else if (arg == "--tty") {
            if (!value(o.tty)) return false;
        } else if (arg == "--baud") {
            if (!value(v)) return false;
            if (!to_int(v, 1, 1000000, n) || speed_constant(static_cast<int>(n)) == 0) {
                error = "unsupported baud rate '" + v + "'";
                return false;
            }
            o.baud = static_cast<int>(n);
        } else if (arg == "--time-scale") {
            if (!value(v)) return false;
            if (!to_real(v, 0.001, 1000.0, o.time_scale)) {
                error = "invalid time scale '" + v + "'";
                return false;
            }
        } else if (arg == "--report") {
            if (!value(o.report)) return false;
        } else if (arg == "--image-out") {
            if (!value(o.image_out)) return false;
        } else if (arg == "--fault") {
            if (!value(v) || !parse_faults(v, o.faults, error)) return false;
        } else if (arg == "--seed") {
            if (!value(v)) return false;
            if (!to_int(v, 0, 0xFFFFFFFFLL, n)) {
                error = "invalid seed '" + v + "'";
                return false;
            }
            o.seed = static_cast<std::uint32_t>(n);
        } else if (arg == "--customer-version") {
            if (!value(o.customer_version)) return false;
        } else if (arg == "--erase-seconds") {
            if (!value(v) || !to_real(v, 0.0, 3600.0, o.erase_seconds)) {
                error = "invalid erase time";
                return false;
            }
        } else if (arg == "--loader-timeout") {
            if (!value(v) || !to_real(v, 0.1, 86400.0, o.loader_timeout)) {
                error = "invalid loader timeout";
                return false;
            }
        } else if (arg == "--replay") {
            if (!value(o.replay)) return false;
        } else if (arg == "--loop") {
            o.replay_loop = true;
        } else if (arg == "--exit-with-parent") {
            o.exit_with_parent = true;
        } else {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
    }
    if (o.replay_loop && o.replay.empty()) {
        error = "--loop needs --replay";
        return false;
    }
    if (o.image_out.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        o.image_out = std::string(tmp && *tmp ? tmp : "/tmp") + "/receiver-sim-image.bin";
    }
    return true;
}

}  // namespace sim
