// flash and agps: the firmware download run and the A-GPS tools, through the
// same service procedures the program's dialogs run.
#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "Progress.h"
#include "ReceiverLink.h"
#include "zorvik/service/agps.h"
#include "zorvik/service/flash.h"

namespace cli {

namespace service = zorvik::service;

namespace {

std::string FlashFailureText(const service::FlashResult& result) {
    if (result.outcome == service::FlashOutcome::Cancelled)
        return "Download cancelled (" + Trimmed(result.message) + ")";
    return Trimmed(result.message);
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

void RunFlash(const Session& session, const FlashOptions& options) {
    const auto kind = service::FlashKindFromName(options.kind);
    if (!kind) throw Failure("Unknown flash kind " + options.kind);
    if (auto problem = service::CheckFlashFile(*kind, options.file)) throw Failure(*problem);

    // Opened here for the port's own failure message; the run closes and
    // reopens it at the rates it needs.
    ReceiverLink link(session.port, session.baud);
    TransferProgress progress(StdoutIsTerminal());
    const CancelOnInterrupt interrupts(service::flash_text::kCloseWarning);

    service::FlashHooks hooks;
    hooks.status = [&](const std::string& text) {
        progress.Status(Trimmed(text));
        if (text == service::flash_text::kTransferring) progress.Start();
    };
    hooks.progress = [&](const service::FlashProgress& p) {
        progress.Update(p.percent, p.bytes_sent, p.total_bytes);
    };
    hooks.pacing.cancel = interrupts.Flag();
    const service::FlashRequest request{*kind, options.file, session.port, session.baud,
                                        options.wait_ms};
    const service::FlashResult result = service::RunFlash(request, hooks);
    progress.Finish();
    if (result.outcome != service::FlashOutcome::Completed || !result.Uploaded())
        throw Failure(FlashFailureText(result));
}

void RunAgps(const Session& session, const AgpsOptions& options) {
    const service::AgpsKind kind =
        options.kind == "lte" ? service::AgpsKind::LTE : service::AgpsKind::BE;
    const std::string file = options.file.empty() ? service::AgpsLocalFileName(kind) : options.file;
    // Opened before the download, so that a missing receiver is reported
    // before the server is asked.
    ReceiverLink link(session.port, session.baud);
    const CancelOnInterrupt interrupts;

    std::string download_problem;
    if (!options.no_download) {
        service::AgpsDownloadRequest request;
        request.kind = kind;
        request.host = options.host;
        request.file = file;
        // The request carries the account's key: show the server only.
        std::cout << "Downloading " << options.kind << " ephemeris from "
                  << (options.host.empty() ? service::DefaultAgpsHost() : options.host)
                  << std::endl;
        const service::AgpsDownloadOutcome downloaded =
            service::DownloadAgpsFile(request, interrupts.Flag());
        if (downloaded.result == service::AgpsResult::Cancelled) throw Failure(downloaded.message);
        if (downloaded.result == service::AgpsResult::Ok)
            std::cout << "Saved " << file << " (" << std::filesystem::file_size(file) << " bytes)"
                      << std::endl;
        else
            download_problem = downloaded.message;
        if (!download_problem.empty() && std::filesystem::exists(file))
            std::cerr << "zorvik: " << download_problem << "; uploading the older " << file
                      << std::endl;
    }

    service::UploadHooks hooks;
    hooks.pacing.cancel = interrupts.Flag();
    // The procedure reports its starting line and then its final message,
    // which is shown below (standard output or error) once.
    bool started = false;
    hooks.status = [&started](const std::string& text) {
        if (!started && !Trimmed(text).empty()) std::cout << Trimmed(text) << std::endl;
        started = true;
    };
    const service::UploadOutcome outcome = service::UploadEphemeris(kind, file, hooks);
    if (outcome.result == service::UploadResult::Cancelled)
        throw Failure("Upload cancelled; the receiver's input is back on NMEA");
    if (outcome.result != service::UploadResult::Ok) {
        const bool no_file_after_failed_download =
            outcome.result == service::UploadResult::NoFile && !download_problem.empty();
        throw Failure(no_file_after_failed_download
                          ? outcome.message + " (" + download_problem + ")"
                          : outcome.message);
    }
    std::cout << Trimmed(outcome.message) << std::endl;
}

}  // namespace cli
