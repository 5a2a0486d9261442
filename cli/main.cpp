// zorvik: every service function of the receiver from a terminal or a script.
#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>

#include "Commands.h"
#include "zorvik/service/agps.h"

namespace {

using namespace cli;

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : ", ") + n;
    return joined;
}

// The command chosen on the command line, run once parsing has succeeded.
using Action = std::function<void()>;

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

void AddListenCommands(CLI::App& app, Options& o, Action& action) {
    app.add_subcommand("ports", "List the serial ports found on this machine, one a line")
        ->callback([&action] { action = [] { RunPorts(); }; });

    auto* mon = app.add_subcommand(
        "monitor",
        "Show the receiver's position, time, fix and satellites, one line per epoch (RMC)");
    mon->add_option("--count", o.monitor.count, "Stop after N epochs")->check(CLI::PositiveNumber);
    mon->add_option("--seconds", o.monitor.seconds, "Stop after S seconds")
        ->check(CLI::PositiveNumber);
    mon->callback([&o, &action] { action = [&o] { RunMonitor(o.session, o.monitor); }; });

    auto* rec =
        app.add_subcommand("record",
                           "Write every received sentence, line ends kept, into FILE (- for "
                           "standard output) until Ctrl-C; prints the count");
    rec->add_option("FILE", o.record.file, "The recording ('-' for standard output)")->required();
    rec->add_option("--seconds", o.record.seconds, "Stop after S seconds")
        ->check(CLI::PositiveNumber);
    rec->callback([&o, &action] { action = [&o] { RunRecord(o.session, o.record); }; });
}

void AddCommandCommands(CLI::App& app, Options& o, Action& action) {
    auto* snd = app.add_subcommand(
        "send",
        "Send a sentence (with or without its $ and *); the checksum is appended. Prints the "
        "proprietary replies ($PKVX...) that arrive");
    snd->add_option("TEXT", o.send.text, "The sentence, e.g. '$PKVX14,8*' or PKVX14,8")->required();
    snd->add_option("--wait", o.send.wait_seconds, "Seconds to wait for replies")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    snd->callback([&o, &action] { action = [&o] { RunSend(o.session, o.send); }; });

    auto* ver =
        app.add_subcommand("version", "Ask the receiver for its firmware, kernel and FSA versions");
    ver->add_flag("--customer", o.customer, "Ask for the customer version instead");
    ver->callback([&o, &action] { action = [&o] { RunVersion(o.session, o.customer); }; });

    auto* rst = app.add_subcommand("restart", "Restart the receiver cold, warm or hot");
    rst->add_option("KIND", o.restart.kind, "cold, warm or hot")
        ->required()
        ->check(CLI::IsMember({"cold", "warm", "hot"}));
    rst->add_flag("--ttff", o.restart.ttff,
                  "Wait for the receiver's time to first fix and print it in seconds");
    rst->add_option(
           "--timeout", o.restart.timeout,
           "Seconds to wait for the receiver's report (10 for the restart, 120 for the TTFF)")
        ->check(CLI::PositiveNumber);
    rst->callback([&o, &action] { action = [&o] { RunRestart(o.session, o.restart); }; });

    auto* bd = app.add_subcommand("baud",
                                  "Change the receiver's baud rate and follow it; succeeds when "
                                  "sentences arrive at the new rate");
    bd->add_option("RATE", o.rate, "One of " + JoinedNames(BaudRates()))
        ->required()
        ->check(CLI::IsMember(BaudRates()));
    bd->callback([&o, &action] { action = [&o] { RunBaud(o.session, o.rate); }; });

    auto* sen = app.add_subcommand("sentences", "Switch output sentences on or off");
    sen->add_option("NAME=on|off", o.settings, "NAME is one of " + JoinedNames(SentenceNames()))
        ->required()
        ->check(CLI::Validator(CheckSentenceSetting, "NAME=on|off"));
    sen->callback([&o, &action] { action = [&o] { RunSentences(o.session, o.settings); }; });

    auto* sc = app.add_subcommand("single-channel",
                                  "Track only one satellite, or leave single channel mode");
    sc->add_option("SV", o.satellite, "Two-digit satellite id (06), or off")->required();
    sc->callback([&o, &action] { action = [&o] { RunSingleChannel(o.session, o.satellite); }; });
}

void AddServiceCommands(CLI::App& app, Options& o, Action& action) {
    auto* fl = app.add_subcommand(
        "flash",
        "Write a firmware, flash kernel, FSA or whole-flash image into the receiver "
        "(XMODEM-1K at 115200 bps); Ctrl-C twice cancels");
    fl->add_option("--kind", o.flash.kind, JoinedNames(FlashKindNames()))
        ->required()
        ->check(CLI::IsMember(FlashKindNames()));
    fl->add_option("FILE", o.flash.file, "The image file")->required();
    fl->add_option("--wait-ms", o.flash.wait_ms, "Milliseconds to wait for the boot loader's NAK")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    fl->callback([&o, &action] { action = [&o] { RunFlash(o.session, o.flash); }; });

    auto* ag = app.add_subcommand(
        "agps",
        "Download broadcast (be) or long-term (lte) ephemeris from the A-GPS server and "
        "upload it to the receiver");
    ag->add_option("KIND", o.agps.kind, "be or lte")
        ->required()
        ->check(CLI::IsMember({"be", "lte"}));
    ag->add_option("--host", o.agps.host,
                   "A-GPS server: scheme, host and port only (default " +
                       zorvik::service::DefaultAgpsHost() + ")")
        ->check(CLI::Validator(CheckAgpsHost, "URL"));
    ag->add_option("--file", o.agps.file, "Local ephemeris file (default BE.bin or LTE.bin here)");
    ag->add_flag("--no-download", o.agps.no_download, "Upload the local file without downloading");
    ag->callback([&o, &action] { action = [&o] { RunAgps(o.session, o.agps); }; });
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    Session& session = options.session;
    Action action;
    CLI::App app{"zorvik: watch, command and service a GPS receiver on a serial port"};
    app.name("zorvik");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.set_version_flag("--version", std::string("zorvik ") + ZORVIK_VERSION);
    app.add_option("-p,--port", session.port,
                   "Serial port, as the COM setup takes it (COM1, ttyUSB0, a path)")
        ->capture_default_str();
    app.add_option("-b,--baud", session.baud, "The receiver's current baud rate")
        ->capture_default_str()
        ->check(CLI::IsMember(BaudRates()));
    app.add_flag("--json", session.json, "monitor: one JSON object per epoch");
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
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    InstallInterruptCounter();
    try {
        action();
    } catch (const std::exception& e) {  // Failure and anything the system reports
        std::cerr << "zorvik: " << e.what() << std::endl;
        return kExitFailure;
    }
    return kExitOk;
}
