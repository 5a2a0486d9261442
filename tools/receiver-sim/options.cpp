#include "options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdlib>
#include <map>
#include <vector>

#include "port.h"

namespace sim {

namespace {

// The whole text as a number of type T.
template <typename T>
bool parse_number(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, out);
    return !text.empty() && error == std::errc() && stop == end;
}

// Applies one item of the --fault list ("burst", "vanish-after-blocks=3");
// false when it names no fault or its value is out of range.
bool apply_fault(const std::string& item, Faults& f) {
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const bool has_value = eq != std::string::npos;
    const std::string value = has_value ? item.substr(eq + 1) : "";
    const std::map<std::string, bool*> switches{{"garbage", &f.garbage}, {"badsum", &f.badsum},
                                                {"bitflip", &f.bitflip}, {"longline", &f.longline},
                                                {"burst", &f.burst},     {"silent", &f.silent},
                                                {"no-nak", &f.no_nak}};
    if (const auto it = switches.find(name); it != switches.end() && !has_value) {
        *it->second = true;
        return true;
    }
    if (name == "deaf" && !has_value) {
        f.deaf_after_seconds = 0;
        return true;
    }
    int blocks = 0;
    double seconds = 0;
    if (name == "vanish-after-blocks" && parse_number(value, blocks) && blocks >= 0) {
        f.vanish_after_blocks = blocks;
        return true;
    }
    const bool is_seconds = parse_number(value, seconds) && seconds >= 0 && seconds <= 1e7;
    if (name == "vanish-after-seconds" && is_seconds) {
        f.vanish_after_seconds = seconds;
        return true;
    }
    if (name == "deaf-after-seconds" && is_seconds) {
        f.deaf_after_seconds = seconds;
        return true;
    }
    return false;
}

const CLI::Validator kFault(
    [](std::string& item) {
        Faults scratch;
        const bool known = item.empty() || apply_fault(item, scratch);
        return known ? std::string() : "unknown fault '" + item + "'";
    },
    "FAULT");

const CLI::Validator kLineRate(
    [](std::string& text) {
        int baud = 0;
        const bool known = parse_number(text, baud) && baud > 0 && speed_constant(baud) != 0;
        return known ? std::string() : "unsupported baud rate '" + text + "'";
    },
    "RATE");

void add_line_options(CLI::App& app, Options& o) {
    app.add_option("--port-name", o.port_name, "register the pty as virtual port NAME")
        ->type_name("NAME")
        ->capture_default_str();
    app.add_option("--registry-dir", o.registry_dir,
                   "directory of the registration links (default: the user's own, "
                   "$XDG_RUNTIME_DIR/zorvik-ports or /tmp/zorvik-ports-<uid>)")
        ->type_name("DIR");
    app.add_flag_callback(
        "--no-register", [&o] { o.do_register = false; }, "do not register");
    app.add_option("--tty", o.tty, "work on a real tty instead of a pseudo-terminal")
        ->type_name("PATH");
    app.add_option("--baud", o.baud, "initial rate")
        ->check(kLineRate)
        ->type_name("N")
        ->capture_default_str();
    app.add_flag("--exit-with-parent", o.exit_with_parent, "end when the starting process ends");
}

void add_behaviour_options(CLI::App& app, Options& o, std::vector<std::string>& faults) {
    app.add_option("--time-scale", o.time_scale, "multiply simulated durations by F")
        ->check(CLI::Range(0.001, 1000.0))
        ->type_name("F")
        ->capture_default_str();
    app.add_option("--report", o.report, "append JSON lines of what was received and done")
        ->type_name("FILE");
    app.add_option("--image-out", o.image_out,
                   "where the boot loader writes the received image (default "
                   "$TMPDIR/receiver-sim-image.bin)")
        ->type_name("FILE");
    app.add_option("--fault", faults,
                   "comma-separated: garbage, badsum, longline, burst, silent, no-nak, "
                   "vanish-after-blocks=N, vanish-after-seconds=S, deaf, deaf-after-seconds=S "
                   "(stop reading the port)")
        ->delimiter(',')
        ->type_name("LIST")
        ->check(kFault);
    app.add_option("--seed", o.seed, "seed of the sky model and the faults")
        ->type_name("N")
        ->capture_default_str();
    app.add_option("--customer-version", o.customer_version, "text of the customer version reply")
        ->type_name("T")
        ->capture_default_str();
    app.add_option("--erase-seconds", o.erase_seconds, "boot loader erase time before scaling")
        ->check(CLI::Range(0.0, 3600.0))
        ->type_name("S")
        ->capture_default_str();
    app.add_option("--loader-timeout", o.loader_timeout, "seconds the boot loader waits for data")
        ->check(CLI::Range(0.1, 86400.0))
        ->type_name("S")
        ->capture_default_str();
    CLI::Option* replay =
        app.add_option(
               "--replay", o.replay,
               "play the NMEA sentences of a recording (a capture or a log), one epoch a second, "
               "instead of the sky model; commands are still answered; output stops at its end")
            ->type_name("FILE");
    app.add_flag("--loop", o.replay_loop, "with --replay: start the recording again at its end")
        ->needs(replay);
}

}  // namespace

int parse_options(int argc, char** argv, Options& o) {
    CLI::App app{"Plays the receiver on a pseudo-terminal.", "receiver-sim"};
    std::vector<std::string> faults;
    add_line_options(app, o);
    add_behaviour_options(app, o, faults);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    for (const std::string& item : faults)
        if (!item.empty()) apply_fault(item, o.faults);
    if (o.image_out.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        o.image_out = std::string(tmp && *tmp ? tmp : "/tmp") + "/receiver-sim-image.bin";
    }
    return -1;
}

}  // namespace sim
