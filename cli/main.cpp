// zorvik: every service function of the receiver from a terminal or a script.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <set>

#include "Commands.h"
#include "DisplayFormats.h"
#include "PortFanout.h"
#include "RateProbe.h"
#include "Report.h"
#include "zorvik/service/agps.h"

namespace {

using namespace cli;

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : ", ") + n;
    return joined;
}

// The port a run serves without -p: the COM setup dialog's default.
constexpr const char* kDefaultPort = "COM1";
// The commands that stay on one port.
const std::set<std::string> kSinglePortCommands{"ports", "monitor", "record"};

// The command chosen on the command line, run once parsing has succeeded.
using Action = std::function<void(Report&)>;

// What the commands' options are parsed into; lives for the whole run.
struct Options {
    Session session;
    MonitorOptions monitor;
    RecordOptions record;
    SendOptions send;
    bool customer = false;
    RestartOptions restart;
    std::string rate;
    std::vector<std::string> settings;
    std::string satellite;
    FlashOptions flash;
    AgpsOptions agps;
};

std::vector<std::string> BaudChoices() {
    std::vector<std::string> choices = BaudRates();
    choices.emplace_back(kAutoRate);
    return choices;
}

// A number option's range, both ends given; `low_included` false: above low.
struct NumberRange {
    double low;
    bool low_included;
    double high;
    const char* unit;  // "seconds", "epochs", ...
};

// The longest a single step may wait, and the longest a listening run may last.
constexpr NumberRange kTimeoutRange{0, false, 3600, "seconds"};
constexpr NumberRange kRunSecondsRange{0, false, 366 * 24 * 3600, "seconds"};
constexpr NumberRange kReplyWaitRange{0, true, 3600, "seconds"};
constexpr NumberRange kNakWaitRange{0, true, 2147483647, "milliseconds"};
constexpr NumberRange kCountRange{1, true, 2147483647, "epochs"};

// Accepts a finite number within the range (nan, inf and 1e400 are none) and
// says the range in plain numbers otherwise.
CLI::Validator InRange(const NumberRange& range) {
    const std::string wanted = std::string("a number of ") + range.unit +
                               (range.low_included ? " from " : " above ") +
                               zorvik::link::DisplayFormats::GeneralText(range.low) +
                               (range.low_included ? " to " : " and at most ") +
                               zorvik::link::DisplayFormats::GeneralText(range.high);
    return CLI::Validator(
        [range, wanted](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            const bool number = !text.empty() && end == text.c_str() + text.size() && errno == 0 &&
                                std::isfinite(value);
            const bool inside = number &&
                                (range.low_included ? value >= range.low : value > range.low) &&
                                value <= range.high;
            return inside ? std::string() : text + " is not " + wanted;
        },
        wanted);
}

CLI::App* AddCommand(CLI::App& app, const std::string& name, const std::string& description,
                     const std::string& example) {
    CLI::App* command = app.add_subcommand(name, description);
    command->footer("Example: " + example);
    return command;
}

void AddListenCommands(CLI::App& app, Options& o, Action& action) {
    AddCommand(app, "ports", "List the serial ports found on this machine, one a line",
               "zorvik ports")
        ->callback([&action] { action = [](Report& r) { RunPorts(r); }; });

    auto* mon = AddCommand(
        app, "monitor",
        "Show the receiver's position, time, fix and satellites, one line per epoch (RMC), until "
        "Ctrl-C; fails when no valid sentence arrives for the --timeout",
        "zorvik -p ttyUSB0 -b auto monitor --count 5");
    mon->add_option("--count", o.monitor.count, "Stop after N epochs")->check(InRange(kCountRange));
    mon->add_option("--seconds", o.monitor.seconds, "Stop after S seconds")
        ->check(InRange(kRunSecondsRange));
    mon->callback(
        [&o, &action] { action = [&o](Report& r) { RunMonitor(o.session, o.monitor, r); }; });

    auto* rec = AddCommand(app, "record",
                           "Write every received sentence, line ends kept, into FILE (- for "
                           "standard output) until Ctrl-C; prints the count. An existing FILE is "
                           "replaced only once something was recorded",
                           "zorvik -p COM7 record session.nmea --seconds 60");
    rec->add_option("FILE", o.record.file, "The recording ('-' for standard output)")->required();
    rec->add_option("--seconds", o.record.seconds, "Stop after S seconds")
        ->check(InRange(kRunSecondsRange));
    rec->callback(
        [&o, &action] { action = [&o](Report& r) { RunRecord(o.session, o.record, r); }; });
}

void AddCommandCommands(CLI::App& app, Options& o, Action& action) {
    auto* snd = AddCommand(
        app, "send",
        "Send a sentence (with or without its $ and *); the checksum is appended. Prints the "
        "proprietary replies ($PKVX...) that arrive",
        "zorvik -p COM7 send PKVX14,8 --wait 1");
    snd->add_option("TEXT", o.send.text, "The sentence, e.g. '$PKVX14,8*' or PKVX14,8")->required();
    snd->add_option("--wait", o.send.wait_seconds, "Seconds to wait for replies")
        ->capture_default_str()
        ->check(InRange(kReplyWaitRange));
    snd->callback([&o, &action] { action = [&o](Report& r) { RunSend(o.session, o.send, r); }; });

    auto* ver =
        AddCommand(app, "version", "Ask the receiver for its firmware, kernel and FSA versions",
                   "zorvik -p COM7 --json version");
    ver->add_flag("--customer", o.customer, "Ask for the customer version instead");
    ver->callback(
        [&o, &action] { action = [&o](Report& r) { RunVersion(o.session, o.customer, r); }; });

    auto* rst = AddCommand(app, "restart",
                           "Restart the receiver cold, warm or hot; succeeds on its restart "
                           "report (with --ttff: on its time to first fix, within 120 s or the "
                           "--timeout if longer)",
                           "zorvik -p COM7 restart cold --ttff");
    rst->add_option("KIND", o.restart.kind, "cold, warm or hot")
        ->required()
        ->check(CLI::IsMember({"cold", "warm", "hot"}));
    rst->add_flag("--ttff", o.restart.ttff,
                  "Wait for the receiver's time to first fix and print it in seconds");
    rst->callback(
        [&o, &action] { action = [&o](Report& r) { RunRestart(o.session, o.restart, r); }; });

    auto* bd = AddCommand(app, "baud",
                          "Change the receiver's baud rate and follow it; succeeds when "
                          "sentences arrive at the new rate",
                          "zorvik -p COM7 -b auto baud 115200");
    bd->add_option("RATE", o.rate, "One of " + JoinedNames(BaudRates()))
        ->required()
        ->check(CLI::IsMember(BaudRates()));
    bd->callback([&o, &action] { action = [&o](Report& r) { RunBaud(o.session, o.rate, r); }; });

    auto* sen = AddCommand(app, "sentences",
                           "Switch output sentences on or off; succeeds when, within four "
                           "epochs, each one appears (on) or stays away for two epochs in a "
                           "row (off)",
                           "zorvik -p COM7 sentences GSV=off GLL=on");
    sen->add_option("NAME=on|off", o.settings, "NAME is one of " + JoinedNames(SentenceNames()))
        ->required()
        ->check(CLI::Validator(CheckSentenceSetting, "NAME=on|off"));
    sen->callback([&o, &action] {
        if (const std::string twice = SentenceGivenTwice(o.settings); !twice.empty())
            throw CLI::ValidationError("NAME=on|off", twice + " is given more than once");
        action = [&o](Report& r) { RunSentences(o.session, o.settings, r); };
    });

    auto* sc =
        AddCommand(app, "single-channel", "Track only one satellite, or leave single channel mode",
                   "zorvik -p COM7 single-channel 06");
    sc->add_option("SV", o.satellite,
                   "Two-digit satellite id, 01 to 32 (GPS) or 33 to 64 (SBAS), or off; succeeds "
                   "when the receiver then lists that satellite alone within four epochs")
        ->required()
        ->check(CLI::Validator(CheckSatellite, "SV"));
    sc->callback([&o, &action] {
        action = [&o](Report& r) { RunSingleChannel(o.session, o.satellite, r); };
    });
}

void AddServiceCommands(CLI::App& app, Options& o, Action& action) {
    auto* fl = AddCommand(
        app, "flash",
        "Write a firmware, flash kernel, FSA or whole-flash image into the receiver "
        "(XMODEM-1K at 115200 bps) and read its versions back; Ctrl-C twice or SIGTERM cancels "
        "before the transfer. With -b auto, a receiver heard at no rate is looked for in its "
        "boot loader at 115200 bps",
        "zorvik -p COM7 -p COM8 -b auto --json flash --kind firmware fw.bin");
    fl->add_option("--kind", o.flash.kind, JoinedNames(FlashKindNames()))
        ->required()
        ->check(CLI::IsMember(FlashKindNames()));
    fl->add_option("FILE", o.flash.file, "The image file")->required();
    fl->add_option("--wait-ms", o.flash.wait_ms, "Milliseconds to wait for the boot loader's NAK")
        ->capture_default_str()
        ->check(InRange(kNakWaitRange));
    fl->callback([&o, &action] { action = [&o](Report& r) { RunFlash(o.session, o.flash, r); }; });

    auto* ag = AddCommand(
        app, "agps",
        "Download broadcast (be) or long-term (lte) ephemeris from the A-GPS server into "
        "BE.bin or LTE.bin (through FILE.part; an answer not valid now keeps the file) and "
        "upload it to the receiver, which must answer after the upload; with several ports, "
        "downloaded once",
        "zorvik -p COM7 agps be --allow-old");
    ag->add_option("KIND", o.agps.kind, "be or lte")
        ->required()
        ->check(CLI::IsMember({"be", "lte"}));
    ag->add_option("--host", o.agps.host,
                   "A-GPS server: scheme, host and port only (default " +
                       zorvik::service::DefaultAgpsHost() + ")")
        ->check(CLI::Validator(CheckAgpsHost, "URL"));
    ag->add_option("--file", o.agps.file, "Local ephemeris file (default BE.bin or LTE.bin here)");
    ag->add_flag("--no-download", o.agps.no_download, "Upload the local file without downloading");
    ag->add_flag("--allow-old", o.agps.allow_old,
                 "When the download fails, upload the older local file (and say how old)");
    ag->callback([&o, &action] { action = [&o](Report& r) { RunAgps(o.session, o.agps, r); }; });
}

void AddGlobalOptions(CLI::App& app, Session& session) {
    app.add_option("-p,--port", session.ports,
                   std::string("Serial port, as the COM setup takes it (COM1, ttyUSB0, a path, "
                               "rfc2217://HOST:PORT or tcp://HOST:PORT on a device server; "
                               "default ") +
                       kDefaultPort +
                       "). Given more than once, the command runs on every port at once")
        ->allow_extra_args(false);
    app.add_option("-b,--baud", session.baud,
                   "The receiver's current baud rate, or auto to find it by listening at " +
                       JoinedNames({kAutoRateOrder.begin(), kAutoRateOrder.end()}))
        ->capture_default_str()
        ->check(CLI::IsMember(BaudChoices()));
    app.add_option("--timeout", session.timeout,
                   "Seconds any step waits at most for the receiver to speak or answer")
        ->capture_default_str()
        ->check(InRange(kTimeoutRange));
    app.add_flag("--json", session.json,
                 "One JSON object per port (JSON Lines) with \"port\" and \"ok\", and "
                 "\"error\" on failure; monitor: one object per epoch with \"port\" and the "
                 "epoch's values (no \"ok\"), and on failure a last one with \"ok\": false");
    // Set by the process that runs one process per port, for each of them.
    app.add_flag("--relayed", session.relayed)->group("");
    app.add_option("--relay-download", session.relay_download)->group("");
}

// The run on one port: the result on standard output, the failure on
// standard error and, with --json, in the closing object.
int RunOnePort(const Session& session, const Action& action) {
    InstallStopSignals();
    Report report(session);
    const auto fail = [&](const std::string& message) {
        std::cerr << ErrorLine(session, message) << std::endl;
        try {
            report.Failed(message);
        } catch (const Failure&) {  // standard output is gone as well
        }
    };
    try {
        action(report);
        report.Succeeded();
        RequireOutputWritten();
    } catch (const Stopped& e) {
        fail(e.what());
        return StopExitCode();
    } catch (const std::exception& e) {  // Failure and anything the system reports
        fail(e.what());
        return kExitFailure;
    }
    return kExitOk;
}

std::vector<std::string> CommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
    return names;
}

int UsageError(const std::string& message) {
    std::cerr << "zorvik: " << message << "\nRun with --help for more information." << std::endl;
    return kExitUsage;
}

// Several ports: one process each; agps downloads here, once for all.
int RunOnSeveralPorts(const CLI::App& app, Options& options, int argc, char** argv) {
    const Session& session = options.session;
    const std::string command = app.get_subcommands().front()->get_name();
    if (kSinglePortCommands.count(command) != 0)
        return UsageError(command + " takes one port; -p was given " +
                          std::to_string(session.ports.size()) + " times");
    const std::set<std::string> distinct(session.ports.begin(), session.ports.end());
    if (distinct.size() != session.ports.size()) return UsageError("a port is given twice");

    FanoutRequest request;
    request.ports = session.ports;
    request.args = WithoutPortOptions({argv + 1, argv + argc});
    request.json = session.json;
    if (command == "agps" && !options.agps.no_download) {
        InstallStopSignals();
        Session relay = session;
        relay.relayed = true;
        try {
            request.extra = {"--relay-download", DownloadForAllPorts(relay, options.agps)};
        } catch (const Stopped& e) {
            std::cerr << ErrorLine(relay, e.what()) << std::endl;
            return StopExitCode();
        }
    }
    return RunOnEachPort(request);
}

}  // namespace

int main(int argc, char** argv) {
    HoldStandardDescriptors();
    Options options;
    Session& session = options.session;
    Action action;
    CLI::App app{"zorvik: watch, command and service a GPS receiver on a serial port"};
    app.name("zorvik");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.set_version_flag("--version", std::string("zorvik ") + ZORVIK_VERSION);
    AddGlobalOptions(app, session);
    app.require_subcommand(1);
    // The global options may also follow the command.
    app.fallthrough();
    AddListenCommands(app, options, action);
    AddCommandCommands(app, options, action);
    AddServiceCommands(app, options, action);
    for (CLI::App* command : app.get_subcommands({})) command->group("Commands");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // A word that is no command is left over, and CLI11 only misses a command.
        if (app.get_subcommands().empty() && !app.remaining().empty())
            return UsageError(app.remaining().front() + " is not a command; the commands are " +
                              JoinedNames(CommandNames(app)));
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    if (session.ports.empty()) session.ports = {kDefaultPort};
    session.port = session.ports.front();
    if (session.ports.size() > 1) return RunOnSeveralPorts(app, options, argc, argv);
    return RunOnePort(session, action);
}
