#include "zorvik/service/agps.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "ZorvikDll.h"
#include "agps_fetch.h"

// ZORVIK_AGPS_HOST, _ACCOUNT, _KEY and _NUMBER come from the build (service/CMakeLists.txt).

namespace zorvik::service {

namespace {

namespace fs = std::filesystem;

// The receiver needs this long after the switch to VBI before the first frame.
constexpr int kBESwitchPauseMs = 500;
constexpr int kLTESwitchPauseMs = 200;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Why the library's layout check refused an answer, e.g. "46 bytes, fewer than 2048".
std::string LayoutFaultText(AgpsKind kind, int fault, std::uintmax_t size) {
    const bool be = kind == AgpsKind::BE;
    switch (fault) {
        case ZORVIK_EPHEMERIS_TOO_SMALL:
            return std::to_string(size) + " bytes, fewer than " +
                   std::to_string(be ? ZORVIK_BE_MIN_SIZE : ZORVIK_LTE_MIN_SIZE);
        case ZORVIK_EPHEMERIS_TOO_LARGE:
            return std::to_string(size) + " bytes, more than " +
                   std::to_string(AgpsFileLimit(kind));
        case ZORVIK_EPHEMERIS_BAD_HEADER:
            return be ? "no ten-digit time after its first line"
                      : "a record header without its time or byte count";
        case ZORVIK_EPHEMERIS_RECORD_CUT:
            return "a record runs past the end";
        case ZORVIK_EPHEMERIS_NO_FRAME:
            return be ? "no VBI frame" : "a record without a VBI frame";
        case ZORVIK_EPHEMERIS_BAD_FRAME:
            return "a VBI frame too long or cut short";
    }
    return "unreadable";
}

bool IsTimeFault(int fault) {
    return fault == ZORVIK_EPHEMERIS_EXPIRED || fault == ZORVIK_EPHEMERIS_NOT_YET ||
           fault == ZORVIK_EPHEMERIS_NO_TIME;
}

// Why the upload would send nothing from a file of the right layout now.
std::string TimeFaultText(AgpsKind kind, int fault) {
    const bool be = kind == AgpsKind::BE;
    switch (fault) {
        case ZORVIK_EPHEMERIS_EXPIRED:
            return be ? "its four hours have passed" : "every record's four hours have passed";
        case ZORVIK_EPHEMERIS_NOT_YET:
            return be ? "its four hours have not begun"
                      : "its next record's four hours have not begun";
    }
    return "no time to judge it by";
}

std::string RefusedAnswerText(AgpsKind kind, const std::string& file, int fault,
                              std::uintmax_t size) {
    std::error_code ec;
    const bool kept = fs::exists(file, ec);
    const std::string kind_name = kind == AgpsKind::BE ? "broadcast" : "long-term";
    const std::string why =
        IsTimeFault(fault)
            ? "a " + kind_name + " ephemeris file not valid now (" + TimeFaultText(kind, fault) +
                  ")"
            : "not a " + kind_name + " ephemeris file (" + LayoutFaultText(kind, fault, size) + ")";
    return fs::path(file).filename().string() + (kept ? " kept" : " not written") +
           ": the answer is " + why;
}

// A regular file that opens for reading; a directory of that name does not count.
bool Readable(const std::string& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec) && std::ifstream(file, std::ios::binary).is_open();
}

struct UploadSteps {
    int pause_ms;
    int (*upload)(const char*);
    const char* starting;
    const char* no_file;
    const char* ok;
    const char* failed;
    bool message_before_switch_back;
};

constexpr UploadSteps kBESteps{
    kBESwitchPauseMs,     UpdateBE, agps_text::kBEStarting, agps_text::kBENoFile, agps_text::kBEOk,
    agps_text::kBEFailed, false};
constexpr UploadSteps kLTESteps{kLTESwitchPauseMs,
                                UpdateLTE,
                                agps_text::kLTEStarting,
                                agps_text::kLTENoFile,
                                agps_text::kLTEOk,
                                agps_text::kLTEFailed,
                                true};

bool VersionReplyIn() {
    ParseNMEAInfo info{};
    GetParseNMEAInfo(&info);
    return info.parse_fw_ver_done == 1;
}

// The version query after the switch back, answered within kSwitchBackAnswerMs.
bool ReceiverAnswers(const UploadHooks& hooks) {
    constexpr int kPollMs = 20;
    if (hooks.drop_stale_input) hooks.drop_stale_input();
    if (CMD_FWVersion() == 0) return false;
    if (hooks.await_version_reply) return hooks.await_version_reply(kSwitchBackAnswerMs);
    for (int waited = 0; waited < kSwitchBackAnswerMs; waited += kPollMs) {
        if (VersionReplyIn()) return true;
        if (!hooks.pacing.Pause(kPollMs)) return false;
    }
    return VersionReplyIn();
}

UploadOutcome Upload(const UploadSteps& steps, const std::string& file, const UploadHooks& hooks) {
    if (hooks.status) hooks.status(steps.starting);
    CMD_NMEAToVBI_Input();
    UploadOutcome outcome;
    if (!hooks.pacing.Pause(steps.pause_ms)) {
        outcome = {UploadResult::Cancelled, steps.failed};
    } else if (!Readable(file)) {
        outcome = {UploadResult::NoFile, steps.no_file};
    } else if (steps.upload(file.c_str()) == 1) {
        outcome = {UploadResult::Ok, steps.ok};
    } else {
        outcome = {UploadResult::Refused, steps.failed};
    }
    // The receiver goes back to NMEA input on every way through; the two
    // dialogs differ only in whether the message line changes first.
    if (steps.message_before_switch_back && hooks.status) hooks.status(outcome.message);
    CMD_VBIToNMEA_Input();
    if (outcome.result == UploadResult::Ok && !ReceiverAnswers(hooks)) {
        // Frames written into a port are no proof that a receiver took them.
        outcome = {UploadResult::NoAnswer, steps.failed};
        if (steps.message_before_switch_back && hooks.status) hooks.status(outcome.message);
    }
    if (!steps.message_before_switch_back && hooks.status) hooks.status(outcome.message);
    return outcome;
}

}  // namespace

std::uintmax_t AgpsFileLimit(AgpsKind kind) {
    return kind == AgpsKind::BE ? kBEFileLimit : kLTEFileLimit;
}

std::string DefaultAgpsHost() {
    return ZORVIK_AGPS_HOST;
}

std::string AgpsRequestAddress(AgpsKind kind, std::string_view host) {
    while (!host.empty() && host.back() == '/') host.remove_suffix(1);
    const std::string usr = std::string("USR(") + ZORVIK_AGPS_ACCOUNT + "," + ZORVIK_AGPS_KEY +
                            "," + ZORVIK_AGPS_NUMBER + ",());";
    const char* data =
        kind == AgpsKind::BE ? "BE(BE,VBI::Ephemeris);" : "LE(LE,VBI::Ephemeris,120,4);";
    return std::string(host) + "/?RQ=" + usr + data;
}

bool IsAgpsHost(std::string_view host) {
    while (!host.empty() && host.back() == '/') host.remove_suffix(1);
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (host.substr(0, scheme.size()) != scheme) continue;
        const std::string_view rest = host.substr(scheme.size());
        // The request's own path and query follow the host; the host brings none.
        return !rest.empty() && rest.find_first_of("/?#@ \t\r\n") == std::string_view::npos;
    }
    return false;
}

std::string AgpsLocalFileName(AgpsKind kind) {
    return kind == AgpsKind::BE ? "BE.bin" : "LTE.bin";
}

std::string AgpsResultText(AgpsResult result) {
    switch (result) {
        case AgpsResult::Ok:
            return "A-GPS download OK";
        case AgpsResult::NetworkError:
            return "A-GPS download failed: no valid answer from the server";
        case AgpsResult::TooLarge:
            return "A-GPS download failed: the answer is larger than the file may be";
        case AgpsResult::Empty:
            return "A-GPS download failed: the server sent no data";
        case AgpsResult::TimedOut:
            return "A-GPS download failed: the server did not answer in time";
        case AgpsResult::WriteError:
            return "A-GPS download failed: the file cannot be written";
        case AgpsResult::Cancelled:
            return "A-GPS download cancelled";
        case AgpsResult::NotEphemeris:
            return "A-GPS download refused: the answer is not an ephemeris file";
        case AgpsResult::NotValidNow:
            return "A-GPS download refused: the answer is not valid now";
        case AgpsResult::BadAddress:
            return "A-GPS download failed: the server is given as scheme, host and port only, "
                   "e.g. http://127.0.0.1:8089";
    }
    return "A-GPS download failed";
}

AgpsDownloadOutcome DownloadAgpsFile(const AgpsDownloadRequest& request,
                                     const std::atomic<bool>* cancel) {
    const std::string file = request.file.empty() ? AgpsLocalFileName(request.kind) : request.file;
    const std::string host = request.host.empty() ? DefaultAgpsHost() : request.host;
    const auto outcome = [](AgpsResult result) {
        return AgpsDownloadOutcome{result, AgpsResultText(result)};
    };
    if (!IsAgpsHost(host)) return outcome(AgpsResult::BadAddress);
    const std::string address = AgpsRequestAddress(request.kind, host);

    // The answer goes beside the file and replaces it only when it is whole.
    const std::string temporary = file + ".part";
    std::error_code ec;
    fs::remove(temporary, ec);  // left over from a run that was killed
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(temporary.c_str(), "wbx"));
    if (!out) return outcome(AgpsResult::WriteError);

    detail::Transfer t;
    t.out = out.get();
    t.limit = AgpsFileLimit(request.kind);
    t.cancel = cancel;
    AgpsResult result = detail::Fetch(address, request, t);
    if (result == AgpsResult::Ok && t.received == 0) result = AgpsResult::Empty;
    if (std::fflush(out.get()) != 0 && result == AgpsResult::Ok) result = AgpsResult::WriteError;
    if (std::fclose(out.release()) != 0 && result == AgpsResult::Ok)
        result = AgpsResult::WriteError;
    // The upload reads whatever the file holds: an answer that is not an
    // ephemeris file (an error page served with 200, a cut file), or one the
    // upload would find nothing valid in now (expired, or ahead), must not
    // take the place of a good one.
    int fault = ZORVIK_EPHEMERIS_OK;
    if (result == AgpsResult::Ok) {
        fault = request.kind == AgpsKind::BE ? CheckBENow(temporary.c_str())
                                             : CheckLTENow(temporary.c_str());
        if (fault == ZORVIK_EPHEMERIS_CANNOT_OPEN)
            result = AgpsResult::WriteError;
        else if (IsTimeFault(fault))
            result = AgpsResult::NotValidNow;
        else if (fault != ZORVIK_EPHEMERIS_OK)
            result = AgpsResult::NotEphemeris;
    }
    if (result == AgpsResult::Ok) {
        fs::rename(temporary, file, ec);
        if (ec) result = AgpsResult::WriteError;
    }
    if (result != AgpsResult::Ok) fs::remove(temporary, ec);
    if (result == AgpsResult::NotEphemeris || result == AgpsResult::NotValidNow)
        return {result, RefusedAnswerText(request.kind, file, fault, t.received)};
    return outcome(result);
}

UploadOutcome UploadBE(const std::string& file, const UploadHooks& hooks) {
    return Upload(kBESteps, file, hooks);
}

UploadOutcome UploadLTE(const std::string& file, const UploadHooks& hooks) {
    return Upload(kLTESteps, file, hooks);
}

UploadOutcome UploadEphemeris(AgpsKind kind, const std::string& file, const UploadHooks& hooks) {
    return kind == AgpsKind::BE ? UploadBE(file, hooks) : UploadLTE(file, hooks);
}

namespace detail {

bool TakeChunk(Transfer& t, const char* data, std::size_t size) {
    if (t.received + size > t.limit) {
        t.too_large = true;
        return false;
    }
    if (std::fwrite(data, 1, size, t.out) != size) {
        t.write_failed = true;
        return false;
    }
    t.received += size;
    return true;
}

int FetchTimeoutMs(const AgpsDownloadRequest& request) {
    return request.timeout_ms > 0 ? request.timeout_ms : kAgpsDownloadTimeoutMs;
}

}  // namespace detail

}  // namespace zorvik::service
