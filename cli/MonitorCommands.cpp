// ports, monitor and record: commands that only listen.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "Commands.h"
#include "EpochReport.h"
#include "RateProbe.h"
#include "ReceiverLink.h"
#include "Report.h"
#include "serial_port.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

// Without --seconds a command runs until Ctrl-C.
constexpr Seconds kUntilInterrupted = std::chrono::hours(24 * 365);

Seconds RunTime(const std::optional<double>& seconds) {
    return seconds ? SecondsOption(*seconds) : kUntilInterrupted;
}

// Ctrl-C is how monitor and record normally end; SIGTERM and SIGHUP cancel them.
void ThrowIfTerminated(const std::string& what) {
    if (StopSignal() != SIGINT) ThrowIfStopped(what);
}

// Shows one epoch: a block refreshed in place on a terminal, else one line
// (or one JSON object) per epoch.
class EpochPrinter {
  public:
    EpochPrinter(const Report& report, std::string port)
        : report_(report),
          port_(std::move(port)),
          in_place_(!report.Json() && StdoutIsTerminal()) {}

    void Print(const zorvik::link::Epoch& epoch) {
        if (report_.Json()) {
            report_.Object(port_, EpochJson(epoch));
        } else if (in_place_) {
            const std::string block = EpochBlock(epoch);
            // Back to the top of the previous block, which is then overwritten.
            if (lines_shown_ > 0) std::cout << "\x1b[" << lines_shown_ << "F\x1b[J";
            std::cout << block << std::flush;
            lines_shown_ = static_cast<int>(std::count(block.begin(), block.end(), '\n'));
        } else {
            std::cout << EpochLine(epoch) << std::endl;
        }
        RequireOutputWritten();
        ++printed_;
    }
    long Printed() const { return printed_; }

  private:
    const Report& report_;
    std::string port_;
    bool in_place_;
    int lines_shown_ = 0;
    long printed_ = 0;
};

// "Cannot write WHAT: why".
std::string CannotWriteText(const std::string& what, int error) {
    return "Cannot write " + what + (error != 0 ? std::string(": ") + std::strerror(error) : "");
}

// The file a recording goes to. A regular file (or a new one) is written as
// FILE.part beside it, which takes its place only once something was
// recorded; a device or a pipe is written as it is.
class RecordingFile {
  public:
    explicit RecordingFile(std::string path) : path_(std::move(path)), target_(path_) {
        std::error_code ec;
        const auto status = fs::status(path_, ec);
        if (fs::is_directory(status)) throw Failure(CannotWriteText(path_, EISDIR));
        const bool replaced = !fs::exists(status) || fs::is_regular_file(status);
        // A link to the recording stays a link: its target is replaced.
        if (replaced && fs::is_symlink(fs::symlink_status(path_, ec))) {
            const fs::path target = fs::canonical(path_, ec);
            if (!ec) target_ = target.string();
        }
        written_ = replaced ? target_ + ".part" : path_;
        if (replaced) fs::remove(written_, ec);  // left over from a run that was killed
        errno = 0;
        out_.open(written_, std::ios::binary | std::ios::trunc);
        if (!out_) throw Failure(CannotWriteText(path_, errno));
    }
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile() {
        std::error_code ec;
        if (written_ != target_ && !closed_) fs::remove(written_, ec);
    }

    std::ostream& Stream() { return out_; }

    // Puts the recording in place when `keep`, else drops it. Throws Failure
    // when the recording cannot take the file's place.
    void Close(bool keep) {
        if (closed_) return;
        closed_ = true;
        out_.close();
        std::error_code ec;
        if (written_ == path_ || written_ == target_) return;
        if (!keep) {
            fs::remove(written_, ec);
            return;
        }
        fs::rename(written_, target_, ec);
        if (!ec) return;
        const int error = ec.value();
        fs::remove(written_, ec);
        throw Failure(CannotWriteText(path_, error));
    }

  private:
    std::string path_;
    std::string target_;  // path_, or where the link path_ leads
    std::string written_;
    std::ofstream out_;
    bool closed_ = false;
};

}  // namespace

void RunPorts(Report& report) {
    report.NoClosingObject();
    ScanComPort();
    ComInfo ports{};
    GetScanComPortPara(&ports);
    for (int i = 0; i < ports.count && i < ZORVIK_MAX_PORTS; ++i) {
        const std::string name = ports.names[i];
        if (report.Json())
            report.Object(name, {{"ok", true}, {"device", zorvik::serial::device_path(name)}});
        else
            report.Line(name);
    }
}

// Each epoch is shown once, at its first publication: when the next one
// begins or the line goes quiet after it (EpochCollector). The first
// sentences read may be the tail of an epoch whose start was missed: only
// whole epochs are shown, each once it holds its RMC.
void RunMonitor(const Session& session, const MonitorOptions& options, Report& report) {
    report.NoClosingObject();
    if (options.count && *options.count <= 0) return;
    const auto link = OpenAtRate(session);
    ClearChStatus();
    link->Epochs().Reset();
    EpochPrinter printer(report, session.port);
    std::uint64_t last_shown = 0;
    bool enough = false;
    const auto show_published = [&] {
        const std::optional<zorvik::link::Epoch> epoch = link->Epochs().TakePublished();
        // An epoch's line is its RMC's: a part without one waits for it.
        if (enough || !epoch || !epoch->whole || !epoch->Has(zorvik::link::Kind::Rmc) ||
            epoch->number == last_shown)
            return;
        last_shown = epoch->number;
        printer.Print(*epoch);
        enough = options.count && printer.Printed() >= *options.count;
    };
    const auto after_read = [&]() {
        show_published();
        return enough ? Next::Stop : Next::Continue;
    };

    SilenceWatch watch(*link, SecondsOption(session.timeout));
    PumpWatched(
        *link, watch, RunTime(options.seconds), [&](const Sentence&) { return after_read(); },
        after_read);
    link->Epochs().LineQuiet();
    show_published();
    ThrowIfTerminated("Monitoring");
    if (!StopRequested() && session.baud != kAutoRate) watch.RequireHeard();
}

void RunRecord(const Session& session, const RecordOptions& options, Report& report) {
    const bool to_stdout = options.file == "-";
    std::optional<RecordingFile> file;
    if (!to_stdout) file.emplace(options.file);
    std::ostream& out = to_stdout ? std::cout : file->Stream();
    const std::string where = to_stdout ? "the recording to standard output" : options.file;
    // The count goes where it cannot mix with the recording.
    if (to_stdout) report.ResultsToStderr();
    report.Fields()["file"] = options.file;
    report.Fields()["sentences"] = 0;

    long count = 0;
    // What was recorded is kept however the run ends; a run that recorded
    // nothing leaves an existing file as it was.
    const auto keep = [&] {
        if (file) file->Close(count > 0);
    };
    try {
        const auto link = OpenAtRate(session);
        SilenceWatch watch(*link, SecondsOption(session.timeout));
        PumpWatched(*link, watch, RunTime(options.seconds), [&](const Sentence& s) {
            out.write(s.raw.data(), static_cast<std::streamsize>(s.raw.size()));
            if (!out.flush()) throw Failure(CannotWriteText(where, errno));
            report.Fields()["sentences"] = ++count;
            return Next::Continue;
        });
        ThrowIfTerminated("Recording");
        if (!StopRequested() && session.baud != kAutoRate) watch.RequireHeard();
    } catch (...) {
        keep();
        throw;
    }
    keep();
    report.Line(std::to_string(count) + " sentences recorded");
}

}  // namespace cli
