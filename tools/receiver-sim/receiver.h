// The simulated receiver: NMEA output and command intake, the boot loader and
// the VBI input, driven by the main loop with input bytes and clock ticks.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "command.h"
#include "epoch_sentences.h"
#include "options.h"
#include "port.h"
#include "replay.h"
#include "report.h"
#include "sky_model.h"
#include "vbi.h"
#include "xmodem.h"

namespace sim {

class Receiver {
  public:
    // now: seconds on the monotonic clock.
    Receiver(const Options& options, Port& port, Report& report, double now);

    // Bytes that arrived from the program.
    void on_input(const std::uint8_t* data, std::size_t n, double now);
    // Timers and output; returns the seconds until it wants to run again.
    double tick(double now);

    int own_rate() const { return rate_; }

    // Plays the recording's epochs instead of the sky model's, once or in a
    // loop. The recording must outlive the receiver.
    void play(const Recording& recording, bool loop);

  private:
    enum class Mode { Nmea, Loader, Vbi };
    enum class LoaderPhase { WaitRate, Erasing, Nak, Receiving };

    bool peer_matches() const;
    void send(const std::string& body);  // one sentence, paced
    // The sentence with one bit of its body flipped, reported.
    std::string hit_by_noise(const std::string& sentence);
    void handle_line(const std::string& line, double now);
    void handle_command(const Command& cmd, double now);
    void emit_epoch(long long utc_seconds, double now);
    void emit_replay_epoch();
    void set_rate(int rate);
    void enter_loader(int target, double now);
    void loader_input(const std::uint8_t* data, std::size_t n, double now);
    void loader_tick(double now);
    void leave_loader(const char* state, double now);
    void vbi_input(const std::uint8_t* data, std::size_t n, double now);
    void send_byte(std::uint8_t b);
    void add_garbage();
    void count_garbled(std::size_t n, double now);
    double scaled(double simulated_seconds) const {
        return simulated_seconds * options_.time_scale;
    }

    const Options& options_;
    Port& port_;
    Report& report_;
    PacedWriter writer_;
    SkyModel sky_;
    OutputSelection selection_;
    LineAssembler lines_;
    std::mt19937 rng_;

    Mode mode_ = Mode::Nmea;
    int rate_;
    int nmea_rate_;  // the rate to return to after the boot loader
    std::optional<int> pending_baud_code_;
    long long next_epoch_utc_ = 0;
    long long epochs_ = 0;
    bool burst_done_ = false;

    // Boot loader.
    LoaderPhase phase_ = LoaderPhase::WaitRate;
    int target_ = -1;
    double phase_since_ = 0;
    double next_nak_ = 0;
    double last_loader_input_ = 0;
    xmodem::Receiver xmodem_;

    // Replay of a recording.
    const Recording* replay_ = nullptr;
    bool replay_loop_ = false;
    std::size_t replay_next_ = 0;
    bool replay_ended_ = false;

    // VBI input.
    vbi::Parser vbi_;
    double last_vbi_input_ = 0;
    long long vbi_frames_ = 0;

    // Garbled input is reported in batches.
    std::size_t garbled_ = 0;
    double garbled_since_ = 0;
};

}  // namespace sim
