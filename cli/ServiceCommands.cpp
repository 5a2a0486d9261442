// flash and agps: the firmware download run and the A-GPS tools, through the
// same service procedures the program's dialogs run.
#include <openssl/evp.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "BaudChange.h"
#include "Commands.h"
#include "OpenFailureText.h"
#include "Progress.h"
#include "RateProbe.h"
#include "ReceiverLink.h"
#include "Report.h"
#include "zorvik/service/agps.h"
#include "zorvik/service/flash.h"

namespace cli {

namespace service = zorvik::service;
namespace fs = std::filesystem;

namespace {

// What a failed or cancelled flash leaves behind once the programming
// sentence went out.
constexpr const char* kInBootLoader =
    "; the receiver is in its boot loader at 115200 bps until the loader's time-out (about a "
    "minute): running the flash again recovers it";

// The same advice for a port that went away after the programming sentence.
constexpr const char* kIfBackAgain =
    " (once it is back, running the flash again recovers a receiver left in its boot loader)";

std::string Sha256Hex(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("Cannot read " + path);
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw Failure("Cannot compute the SHA-256 of " + path);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0f]);
    }
    return hex;
}

// The port at the rate the receiver talks NMEA at. A receiver left in its
// boot loader sends no sentences and a new flash is how it recovers, so at a
// given rate silence is only reported; with -b auto, a receiver heard at no
// rate is looked for in its boot loader, which waits at 115200 for the image.
struct FlashLink {
    std::unique_ptr<ReceiverLink> link;
    bool in_boot_loader = false;
};

FlashLink OpenForFlash(const Session& session) {
    if (session.baud == kAutoRate) {
        try {
            return {OpenReceiver(session), false};
        } catch (const NoReceiverAtAnyRate&) {
            Notice(session, "no valid NMEA sentences at any rate; looking for its boot loader at " +
                                std::string(service::kLoaderBaudText) + " bps");
            return {std::make_unique<ReceiverLink>(session.port, service::kLoaderBaudText), true};
        }
    }
    auto link = OpenAtRate(session);
    if (!HearsValidSentence(*link, ListenWindow(session.baud, SecondsOption(session.timeout)))) {
        ThrowIfStopped("Flashing");
        Notice(session, "no valid NMEA sentences at " + session.baud +
                            " bps before the programming sentence; flashing anyway");
    }
    return {std::move(link), false};
}

// The failure line of a run that did not complete: the transfer's own result
// when a later step failed too; where the receiver was left.
std::string FlashFailureText(const service::FlashResult& result, const FlashLink& flash,
                             bool programming_sent) {
    std::string text = Trimmed(result.message);
    const std::string transfer = Trimmed(service::XmodemResultText(result.xmodem_result));
    if (result.xmodem_result != 0 && text != transfer) text = transfer + "; " + text;
    if (result.outcome == service::FlashOutcome::Cancelled)
        text = "Download cancelled (" + text + ")";
    if (result.Uploaded()) return text;
    // Whether a receiver behind a port that went away waits in its loader is
    // not known here: only what happened is said.
    if (GetComPort_connected_Status() == 0)
        return text + "; " + zorvik::link::LostPortText(flash.link->PortName()) +
               (programming_sent ? kIfBackAgain : "");
    if (flash.in_boot_loader && result.xmodem_result == 0)
        return NoSentencesAtAnyRateText(flash.link->PortName()) +
               ", and no boot loader asked for data at " + service::kLoaderBaudText + " bps (" +
               text + "): is it connected and powered?";
    return programming_sent ? text + kInBootLoader : text;
}

double TenthsOfSeconds(Seconds elapsed) {
    return std::round(elapsed.count() * 10.0) / 10.0;
}

// After a completed flash the receiver must answer at its NMEA rate; one
// flashed from its boot loader is back at a rate to be found again.
void ReadBackVersions(const Session& session, FlashLink& flash, Report& report) {
    const Seconds timeout = SecondsOption(session.timeout);
    try {
        if (flash.in_boot_loader) {
            flash.link.reset();
            flash.link = OpenReceiver(session);
        } else {
            flash.link->Reopen(flash.link->BaudText());
        }
        const ReceiverVersions versions = AskVersions(*flash.link, timeout);
        report.Fields()["version"] = VersionsJson(versions);
        ReportVersions(versions, report);
    } catch (const Failure& e) {
        ThrowIfStopped("Reading the versions back");
        throw Failure(std::string(e.what()) + " after the flash");
    }
}

std::string DurationText(std::int64_t seconds) {
    constexpr std::int64_t kMinute = 60, kHour = 60 * kMinute, kDay = 24 * kHour;
    if (seconds < kMinute) return "less than a minute";
    if (seconds < kHour) return std::to_string(seconds / kMinute) + " min";
    if (seconds < kDay)
        return std::to_string(seconds / kHour) + " h " + std::to_string(seconds % kHour / kMinute) +
               " min";
    return std::to_string(seconds / kDay) + " d " + std::to_string(seconds % kDay / kHour) + " h";
}

std::int64_t AgeSeconds(const std::string& file) {
    std::error_code ec;
    const auto written = fs::last_write_time(file, ec);
    if (ec) return 0;
    const auto age = fs::file_time_type::clock::now() - written;
    return std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(age).count());
}

service::AgpsKind AgpsKindOf(const AgpsOptions& options) {
    return options.kind == "lte" ? service::AgpsKind::LTE : service::AgpsKind::BE;
}

std::string AgpsFile(const AgpsOptions& options) {
    return options.file.empty() ? service::AgpsLocalFileName(AgpsKindOf(options)) : options.file;
}

// kFreshDownload when the file was replaced by this run's download, else why not.
std::string Download(const Session& session, const AgpsOptions& options,
                     const std::atomic<bool>* cancel) {
    service::AgpsDownloadRequest request;
    request.kind = AgpsKindOf(options);
    request.host = options.host;
    request.file = AgpsFile(options);
    // The request carries the account's key: show the server only.
    Notice(session, "downloading " + options.kind + " ephemeris from " +
                        (options.host.empty() ? service::DefaultAgpsHost() : options.host));
    const service::AgpsDownloadOutcome downloaded = service::DownloadAgpsFile(request, cancel);
    if (downloaded.result == service::AgpsResult::Cancelled) ThrowIfStopped("The A-GPS download");
    if (downloaded.result != service::AgpsResult::Ok) return downloaded.message;
    Notice(session, "saved " + request.file + " (" + std::to_string(fs::file_size(request.file)) +
                        " bytes)");
    return kFreshDownload;
}

}  // namespace

const std::vector<std::string>& FlashKindNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (auto kind : {service::FlashKind::Firmware, service::FlashKind::Kernel,
                          service::FlashKind::Fsa, service::FlashKind::AllImage})
            list.emplace_back(service::RuleFor(kind).short_name);
        return list;
    }();
    return names;
}

std::string CheckAgpsHost(const std::string& host) {
    return service::IsAgpsHost(host) ? std::string()
                                     : "scheme, host and port only, e.g. http://127.0.0.1:8089";
}

void RunFlash(const Session& session, const FlashOptions& options, Report& report) {
    const auto kind = service::FlashKindFromName(options.kind);
    if (!kind) throw Failure("Unknown flash kind " + options.kind);
    auto& fields = report.Fields();
    fields["kind"] = options.kind;
    fields["file"] = options.file;
    if (auto problem = service::CheckFlashFile(*kind, options.file)) {
        if (*problem == service::flash_text::kFileNotSelected)
            throw Failure(*problem + " (" + options.file + ": " +
                          service::UnselectedFileReason(options.file) + ")");
        throw Failure(*problem);
    }
    fields["bytes"] = fs::file_size(options.file);
    fields["sha256"] = Sha256Hex(options.file);

    if (!zorvik::link::RateFollows(session.port))
        throw Failure(zorvik::link::RateFixedText(session.port));
    FlashLink flash = OpenForFlash(session);
    TransferProgress progress(StderrIsTerminal());
    const CancelOnInterrupt interrupts(service::flash_text::kCloseWarning);
    bool programming_sent = flash.in_boot_loader;
    service::FlashHooks hooks;
    hooks.status = [&](const std::string& text) {
        if (text == service::flash_text::kStarting) programming_sent = true;
        if (text == service::flash_text::kTransferring) progress.Start();
        // The transfer's success is the run's result, for standard output.
        if (text != service::flash_text::kUploadOk) progress.Status(Trimmed(text));
    };
    hooks.progress = [&](const service::FlashProgress& p) {
        progress.Update(p.percent, p.bytes_sent, p.total_bytes);
    };
    hooks.pacing.cancel = interrupts.Flag();
    // From the boot loader the port goes back to the first rate -b auto tries.
    const std::string nmea_baud =
        flash.in_boot_loader ? std::string(kAutoRateOrder.front()) : flash.link->BaudText();
    service::FlashRequest request{*kind, options.file, session.port, nmea_baud, options.wait_ms};
    request.in_boot_loader = flash.in_boot_loader;
    const auto started = Clock::now();
    const service::FlashResult result = service::RunFlash(request, hooks);
    progress.Finish();
    fields["seconds"] = TenthsOfSeconds(Clock::now() - started);
    fields["result"] = Trimmed(result.message);

    if (!result.Uploaded() || result.outcome == service::FlashOutcome::Failed) {
        const std::string text = FlashFailureText(result, flash, programming_sent);
        if (result.outcome == service::FlashOutcome::Cancelled) throw Stopped(text);
        throw Failure(text);
    }
    report.Line(Trimmed(result.message));
    try {
        if (!StopRequested()) ReadBackVersions(session, flash, report);
    } catch (const Stopped&) {  // the image is in: nothing is left to cancel
    }
    // A transfer cannot be stopped once it runs: a cancel during it came too
    // late. The run stops there, so the record says that nothing was read back.
    if (StopRequested()) {
        if (!fields.contains("version")) fields["version"] = nullptr;
        Notice(session,
               "the cancel came too late: the image was transferred whole; its versions were "
               "not read back");
    }
}

std::string DownloadForAllPorts(const Session& session, const AgpsOptions& options) {
    const CancelOnInterrupt interrupts;
    return Download(session, options, interrupts.Flag());
}

void RunAgps(const Session& session, const AgpsOptions& options, Report& report) {
    const service::AgpsKind kind = AgpsKindOf(options);
    const std::string file = AgpsFile(options);
    auto& fields = report.Fields();
    fields["kind"] = options.kind;
    fields["file"] = file;
    // Opened before the download, so that a missing receiver is reported
    // before the server is asked.
    const auto link = OpenReceiver(session);
    const CancelOnInterrupt interrupts;

    std::string download = session.relay_download;
    if (download.empty() && !options.no_download)
        download = Download(session, options, interrupts.Flag());
    const bool fresh = download == kFreshDownload;
    fields["fresh"] = fresh;
    const bool download_failed = !fresh && !options.no_download;
    std::error_code ec;
    if (!fresh && fs::exists(file, ec)) {
        const std::int64_t age = AgeSeconds(file);
        fields["age_s"] = age;
        const std::string older = "the older " + file + " (" + DurationText(age) + " old)";
        if (download_failed && !options.allow_old)
            throw Failure(download + "; " + older + " was not uploaded (--allow-old uploads it)");
        if (download_failed) Notice(session, download + "; uploading " + older);
    }

    service::UploadHooks hooks;
    hooks.pacing.cancel = interrupts.Flag();
    // The procedure reports its starting line and then its final message,
    // which is shown below (standard output or error) once.
    bool started = false;
    hooks.status = [&](const std::string& text) {
        if (!started && !Trimmed(text).empty()) std::cerr << Trimmed(text) << std::endl;
        started = true;
    };
    // Nothing else reads the port meanwhile: the reply is read here.
    hooks.await_version_reply = [&](int) {
        return link->WaitFor(SecondsOption(session.timeout),
                             [](const ParseNMEAInfo& i) { return i.parse_fw_ver_done == 1; });
    };
    const service::UploadOutcome outcome = service::UploadEphemeris(kind, file, hooks);
    if (outcome.result == service::UploadResult::Cancelled)
        throw Stopped("Upload cancelled; the receiver's input is back on NMEA");
    if (outcome.result != service::UploadResult::Ok) {
        const bool no_file_after_failed_download =
            outcome.result == service::UploadResult::NoFile && download_failed;
        if (outcome.result == service::UploadResult::NoAnswer)
            throw Failure(Trimmed(outcome.message) + ": the receiver on " + link->PortName() +
                          " did not answer after the switch back to NMEA input");
        throw Failure(no_file_after_failed_download
                          ? Trimmed(outcome.message) + " (" + download + ")"
                          : Trimmed(outcome.message));
    }
    fields["bytes"] = fs::file_size(file);
    report.Line(Trimmed(outcome.message));
    if (StopRequested()) Notice(session, "the cancel came too late: the upload had completed");
}

}  // namespace cli
