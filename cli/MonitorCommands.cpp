// ports, monitor and record: commands that only listen.
#include <algorithm>
#include <fstream>
#include <iostream>

#include "Commands.h"
#include "EpochReport.h"
#include "ReceiverLink.h"

namespace cli {

namespace {

// Without --seconds a command runs until Ctrl-C.
constexpr Seconds kUntilInterrupted = std::chrono::hours(24 * 365);

Seconds RunTime(const std::optional<double>& seconds) {
    return seconds ? SecondsOption(*seconds) : kUntilInterrupted;
}

// The RMC sentence the library reads; it starts each epoch.
bool IsRmc(std::string_view text) {
    return text.substr(0, 6) == "$GPRMC";
}

// Shows one epoch: a block refreshed in place on a terminal, else one line
// (or one JSON object) per epoch.
class EpochPrinter {
  public:
    explicit EpochPrinter(bool json) : json_(json), in_place_(!json && StdoutIsTerminal()) {}

    void Print(const ParseNMEAInfo& info) {
        if (json_) {
            // A garbled field must not end the run: bytes that are not
            // UTF-8 are replaced rather than refused.
            std::cout << EpochJson(info).dump(-1, ' ', false,
                                              nlohmann::json::error_handler_t::replace)
                      << std::endl;
        } else if (in_place_) {
            const std::string block = EpochBlock(info);
            // Back to the top of the previous block, which is then overwritten.
            if (lines_shown_ > 0) std::cout << "\x1b[" << lines_shown_ << "F\x1b[J";
            std::cout << block << std::flush;
            lines_shown_ = static_cast<int>(std::count(block.begin(), block.end(), '\n'));
        } else {
            std::cout << EpochLine(info) << std::endl;
        }
        ++printed_;
    }
    long Printed() const { return printed_; }

  private:
    bool json_;
    bool in_place_;
    int lines_shown_ = 0;
    long printed_ = 0;
};

}  // namespace

void RunPorts() {
    ScanComPort();
    ComInfo ports{};
    GetScanComPortPara(&ports);
    for (int i = 0; i < ports.count && i < ZORVIK_MAX_PORTS; ++i)
        std::cout << ports.names[i] << "\n";
}

// An epoch is the group of sentences that begins with an RMC. It is shown
// once the line goes quiet after it (so that the GGA, GSA and GSV of the same
// second are in), or when the next RMC arrives first.
void RunMonitor(const Session& session, const MonitorOptions& options) {
    ReceiverLink link(session.port, session.baud);
    ClearChStatus();
    EpochPrinter printer(session.json);
    bool epoch_pending = false;
    long sentences = 0;

    bool enough = false;
    const auto show_epoch = [&]() {
        GetChStatus();
        printer.Print(StateRecord());
        epoch_pending = false;
        enough = options.count && printer.Printed() >= *options.count;
    };
    // A new RMC before the line went quiet ends the pending epoch, shown as
    // the earlier sentences left the record.
    link.BeforeParse([&](std::string_view text) {
        if (IsRmc(text) && epoch_pending && !enough) show_epoch();
    });
    const auto on_sentence = [&](const Sentence& s) {
        ++sentences;
        if (enough) return Next::Stop;
        if (IsRmc(s.text)) epoch_pending = true;
        return Next::Continue;
    };
    const auto on_idle = [&]() {
        if (epoch_pending) show_epoch();
        return enough ? Next::Stop : Next::Continue;
    };

    if (options.count && *options.count <= 0) return;
    link.Pump(RunTime(options.seconds), on_sentence, on_idle);
    if (epoch_pending && !enough) show_epoch();
    if (sentences == 0 && !Interrupted())
        throw Failure("No NMEA sentences received on " + session.port + " at " + session.baud +
                      " bps");
}

void RunRecord(const Session& session, const RecordOptions& options) {
    const bool to_stdout = options.file == "-";
    std::ofstream file;
    if (!to_stdout) {
        file.open(options.file, std::ios::binary | std::ios::trunc);
        if (!file) throw Failure("Cannot write " + options.file);
    }
    std::ostream& out = to_stdout ? std::cout : file;
    ReceiverLink link(session.port, session.baud);

    long count = 0;
    link.Pump(RunTime(options.seconds), [&](const Sentence& s) {
        out.write(s.raw.data(), static_cast<std::streamsize>(s.raw.size()));
        out.flush();
        ++count;
        return Next::Continue;
    });
    if (!out) throw Failure("Cannot write " + options.file);
    // The count goes where it cannot mix with the recording.
    (to_stdout ? std::cerr : std::cout) << count << " sentences recorded" << std::endl;
}

}  // namespace cli
