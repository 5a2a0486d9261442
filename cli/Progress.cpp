#include "Progress.h"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace cli {

namespace {

constexpr int kBarWidth = 30;
// Without a terminal a line is written at every tenth of the transfer.
constexpr int kPlainStepPercent = 10;

std::string DurationText(double seconds) {
    const long s = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

std::string TransferProgress::BarText(int percent, std::uintmax_t bytes_sent,
                                      std::uintmax_t total_bytes, Seconds elapsed) {
    const int filled = percent * kBarWidth / 100;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]";
    char figures[64];
    std::snprintf(figures, sizeof figures, " %3d%%  %ju/%ju bytes", percent, bytes_sent,
                  total_bytes);
    bar += figures;
    const double seconds = elapsed.count();
    if (seconds > 0 && bytes_sent > 0) {
        const double rate = static_cast<double>(bytes_sent) / seconds;
        std::snprintf(figures, sizeof figures, "  %.1f kB/s", rate / 1000.0);
        bar += figures;
        bar += "  " + DurationText(static_cast<double>(total_bytes - bytes_sent) / rate) + " left";
    }
    return bar;
}

void TransferProgress::EndBarLine() {
    if (!bar_open_) return;
    std::cerr << "\n";
    bar_open_ = false;
}

void TransferProgress::Status(const std::string& text) {
    std::lock_guard lock(mutex_);
    EndBarLine();
    std::cerr << text << std::endl;
}

void TransferProgress::Start() {
    std::lock_guard lock(mutex_);
    started_ = Clock::now();
}

void TransferProgress::Update(int percent, std::uintmax_t bytes_sent, std::uintmax_t total_bytes) {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (!started_) started_ = now;
    if (percent == last_percent_) return;
    if (!terminal_ && last_percent_ >= 0 &&
        percent / kPlainStepPercent == last_percent_ / kPlainStepPercent && percent != 100)
        return;
    last_percent_ = percent;
    const std::string bar = BarText(percent, bytes_sent, total_bytes, now - *started_);
    if (terminal_) {
        std::cerr << "\r" << bar << "\x1b[K" << std::flush;
        bar_open_ = true;
    } else {
        std::cerr << bar << std::endl;
    }
}

void TransferProgress::Finish() {
    std::lock_guard lock(mutex_);
    EndBarLine();
    std::cerr << std::flush;
}

}  // namespace cli
