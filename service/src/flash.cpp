#include "zorvik/service/flash.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "ZorvikDll.h"

namespace zorvik::service {

namespace {

// The port settles this long between a close and the next open.
constexpr int kReopenPauseMs = 500;
// How often a transfer's progress is read.
constexpr int kProgressPeriodMs = 200;
constexpr std::uint8_t kNak = 0x15;
// After a failed read, before the next.
constexpr int kErrorBackoffMs = 20;

constexpr std::array<FlashKindRule, 4> kRules{{
    {FlashKind::Firmware, "FirmWare", "firmware", 481280, 491520,
     "Firmware size is not correct!(NG)"},
    {FlashKind::Kernel, "Flash Kernel", "kernel", 16384, 16384,
     "Flash Kernel size is not correct!(NG)"},
    {FlashKind::Fsa, "FSA", "fsa", 8192, 8192, "FSA size is not correct!(NG)"},
    {FlashKind::AllImage, "All Image", "all", 524288, 524288, "All-Image size is not correct!(NG)"},
}};

int SendProgrammingCommand(FlashKind kind) {
    switch (kind) {
        case FlashKind::Kernel:
            return CMD_Prog_FK();
        case FlashKind::Fsa:
            return CMD_Prog_FSA();
        case FlashKind::AllImage:
            return CMD_Prog_AllImage();
        case FlashKind::Firmware:
            break;
    }
    return CMD_Prog_AP();
}

// Reads the transfer's progress on a helper thread while the caller is
// blocked in Xmodem_1K, and once more when the transfer has ended.
class ProgressReporter {
  public:
    ProgressReporter(const std::function<void(const FlashProgress&)>& report, std::uintmax_t total)
        : report_(report), total_(total) {
        if (report_) thread_ = std::thread([this] { Loop(); });
    }
    ~ProgressReporter() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
        Report();
    }
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

  private:
    void Loop() {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(kProgressPeriodMs),
                               [this] { return done_; })) {
            lock.unlock();
            Report();
            lock.lock();
        }
    }
    void Report() const {
        XmodemPPInfo info{};
        GetXmodemPPInfo(&info);
        FlashProgress p;
        p.percent = info.percent_1k < 0 ? 0 : (info.percent_1k > 100 ? 100 : info.percent_1k);
        p.total_bytes = total_;
        p.bytes_sent = total_ / 100 * static_cast<std::uintmax_t>(p.percent) +
                       total_ % 100 * static_cast<std::uintmax_t>(p.percent) / 100;
        report_(p);
    }

    const std::function<void(const FlashProgress&)>& report_;
    const std::uintmax_t total_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// One run: the request, the caller's hooks and what has been shown so far.
class FlashRun {
  public:
    FlashRun(const FlashRequest& request, const FlashHooks& hooks)
        : request_(request), hooks_(hooks) {}

    FlashResult Run() {
        // Steps 1 to 4: the port closed and reopened at the NMEA rate.
        Close();
        if (!hooks_.pacing.Pause(kReopenPauseMs)) return Cancelled();
        const bool opened = Open(request_.nmea_baud);
        if (request_.nak_wait_ms < 0) {
            // Nothing has been sent: the port is back at the NMEA rate.
            return Fail(opened ? flash_text::kBadWaitingTime : flash_text::kCannotOpen);
        }
        if (!opened) return Fail(flash_text::kCannotOpen);
        if (Stopped()) return Cancelled();

        if (!request_.in_boot_loader) {
            // Steps 5 and 6: the programming sentence twice, at the NMEA rate.
            Status(flash_text::kStarting);
            SendProgrammingCommand(request_.kind);
            SendProgrammingCommand(request_.kind);
            if (Stopped()) return Cancelled();
        }

        // Step 7: the boot loader talks at 115200.
        if (!Reopen(kLoaderBaudText)) return stopped_ ? Cancelled() : Fail(flash_text::kCannotOpen);

        // Steps 8 and 9: the loader erases the area, then asks for data with NAK.
        if (!request_.in_boot_loader) Status(flash_text::kErasing);
        if (!WaitForNak()) return stopped_ ? Cancelled() : Fail(flash_text::kNakTimeout);

        // Steps 10 and 11: the transfer; it runs to its own end once started.
        Status(flash_text::kTransferring);
        result_.xmodem_result = Transfer();
        Status(XmodemResultText(result_.xmodem_result));
        if (Stopped()) return Cancelled();

        // Step 12: back to the NMEA rate. A device that vanished during the
        // transfer is not reopened: its name may already lead to another
        // program's terminal (a recycled pseudo-terminal number).
        if (GetComPort_connected_Status() == 0) {
            Close();
            return Fail(flash_text::kCannotOpen);
        }
        if (!Reopen(request_.nmea_baud)) {
            return stopped_ ? Cancelled() : Fail(flash_text::kCannotOpen);
        }
        result_.outcome = FlashOutcome::Completed;
        return result_;
    }

  private:
    bool Stopped() {
        stopped_ = stopped_ || hooks_.pacing.Cancelled();
        return stopped_;
    }

    void Status(const std::string& text) {
        result_.message = text;
        if (hooks_.status) hooks_.status(text);
    }

    void Close() {
        if (hooks_.port.close) {
            hooks_.port.close();
        } else {
            COM_Close();
        }
    }

    bool Open(const std::string& baud) {
        if (hooks_.baud_changed) hooks_.baud_changed(baud);
        const int handle = hooks_.port.open ? hooks_.port.open(request_.port_name, baud)
                                            : COM_Open(request_.port_name.c_str(), baud.c_str());
        return handle != 0;
    }

    // Close, settle, open at baud. False when stopped before the open or when
    // the open failed.
    bool Reopen(const std::string& baud) {
        Close();
        if (!hooks_.pacing.Pause(kReopenPauseMs)) {
            stopped_ = true;
            return false;
        }
        return Open(baud);
    }

    // True once the loader's NAK has arrived within the waiting time. The
    // time test follows each read, so a NAK that comes only as the time runs
    // out counts as a time-out.
    bool WaitForNak() {
        using clock = std::chrono::steady_clock;
        const auto started = clock::now();
        const auto limit = std::chrono::milliseconds(request_.nak_wait_ms);
        for (;;) {
            if (Stopped()) return false;
            const bool nak = ReadNak();
            if (clock::now() - started >= limit) return false;
            if (nak) return true;
        }
    }

    bool ReadNak() {
        if (!hooks_.port.read_byte) return PollingXmodem_NAK() == 1;
        std::uint8_t byte = 0;
        const int n = hooks_.port.read_byte(byte);
        // A port that reports an error returns at once; do not spin on it.
        if (n < 0) hooks_.pacing.Pause(kErrorBackoffMs);
        return n == 1 && byte == kNak;
    }

    int Transfer() {
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(request_.file, ec);
        ProgressReporter reporter(hooks_.progress, ec ? 0 : size);
        return Xmodem_1K(request_.file.c_str());
    }

    FlashResult Fail(const char* text) {
        Status(text);
        result_.outcome = FlashOutcome::Failed;
        return result_;
    }

    FlashResult Cancelled() {
        result_.outcome = FlashOutcome::Cancelled;
        return result_;
    }

    const FlashRequest& request_;
    const FlashHooks& hooks_;
    FlashResult result_;
    bool stopped_ = false;
};

}  // namespace

const FlashKindRule& RuleFor(FlashKind kind) {
    for (const FlashKindRule& rule : kRules) {
        if (rule.kind == kind) return rule;
    }
    return kRules[0];
}

std::optional<FlashKind> FlashKindFromName(std::string_view short_name) {
    for (const FlashKindRule& rule : kRules) {
        if (short_name == rule.short_name) return rule.kind;
    }
    return std::nullopt;
}

std::optional<std::string> CheckFlashFile(FlashKind kind, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Only a regular file that opens for reading counts as chosen: a directory
    // or a device would "open" and then be sent as an image.
    if (path.empty() || !fs::is_regular_file(path, ec)) return flash_text::kFileNotSelected;
    if (!std::ifstream(path, std::ios::binary).is_open()) return flash_text::kFileNotSelected;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return flash_text::kFileNotSelected;
    const FlashKindRule& rule = RuleFor(kind);
    if (size < rule.min_size || size > rule.max_size) return rule.size_message;
    return std::nullopt;
}

std::string UnselectedFileReason(const std::string& path) {
    namespace fs = std::filesystem;
    if (path.empty()) return "no file given";
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return "no such file";
    if (fs::is_directory(status)) return "a directory";
    if (!fs::is_regular_file(status)) return "not a regular file";
    errno = 0;
    if (std::ifstream(path, std::ios::binary).is_open()) return "its size cannot be read";
    return errno != 0 ? std::strerror(errno) : "it cannot be opened";
}

bool ParseWaitingTime(std::string_view text, int& out_ms) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return false;
    const auto last = text.find_last_not_of(kBlanks);
    const std::string_view digits = text.substr(first, last - first + 1);
    if (digits.size() > 10) return false;
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > INT_MAX) return false;
    out_ms = static_cast<int>(value);
    return true;
}

std::string XmodemResultText(int result) {
    switch (result) {
        case ZORVIK_XMODEM_OK:
            return flash_text::kUploadOk;
        case ZORVIK_XMODEM_FILE_CANNOT_OPEN:
            return "File upload failed: file cannot be opened (512)!(NG)";
        case ZORVIK_XMODEM_WRITE_FAILED:
            return "File upload failed: port write error (513)!(NG)";
        case ZORVIK_XMODEM_NO_ACK:
            return "File upload failed: receiver did not acknowledge (514)!(NG)";
        default:
            return "File upload failed (" + std::to_string(result) + ")!(NG)";
    }
}

FlashResult RunFlash(const FlashRequest& request, const FlashHooks& hooks) {
    return FlashRun(request, hooks).Run();
}

}  // namespace zorvik::service
