// Progress of a long transfer on standard error: a bar refreshed in place on
// a terminal (percent, bytes, rate, time left), plain lines otherwise. Safe to
// call from the thread that reads the progress and the one that runs the
// procedure.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "ReceiverLink.h"

namespace cli {

class TransferProgress {
  public:
    explicit TransferProgress(bool terminal) : terminal_(terminal) {}
    // A status line of the procedure, on a line of its own.
    void Status(const std::string& text);
    // The transfer begins now: the rate is measured from here.
    void Start();
    void Update(int percent, std::uintmax_t bytes_sent, std::uintmax_t total_bytes);
    // Ends a bar in progress with a line feed.
    void Finish();

    // "[#####-----]  50%  245760/491520 bytes  10.9 kB/s  0:22 left"
    static std::string BarText(int percent, std::uintmax_t bytes_sent, std::uintmax_t total_bytes,
                               Seconds elapsed);

  private:
    void EndBarLine();

    const bool terminal_;
    std::mutex mutex_;
    std::optional<Clock::time_point> started_;
    int last_percent_ = -1;
    bool bar_open_ = false;
};

}  // namespace cli
