#include "receiver.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "nmea.h"

namespace sim {

namespace {

long long utc_now_millis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Firmware identity reported by $PKVX100: nine fields.
constexpr const char* kVersionReply = "PKVX100,KVX1612,20260112,01,05,0,0,02,03,1.08";

// Longest line of the command intake.
constexpr std::size_t kMaxCommandLine = 128;

}  // namespace

Receiver::Receiver(const Options& options, Port& port, Report& report, double now)
    : options_(options),
      port_(port),
      report_(report),
      sky_(options.seed, options.time_scale, now),
      lines_(kMaxCommandLine),
      rng_(options.seed ^ 0x5EEDu),
      rate_(options.baud),
      nmea_rate_(options.baud) {
    next_epoch_utc_ = utc_now_millis() / 1000 + 1;
}

bool Receiver::peer_matches() const {
    return port_.peer_rate() == rate_;
}

void Receiver::send(const std::string& body) {
    if (options_.faults.silent) return;
    std::uniform_int_distribution<int> one_in(0, 3);
    const bool corrupt = options_.faults.badsum && one_in(rng_) == 0;
    const std::string sentence = nmea::sentence(body, corrupt);
    std::uniform_int_distribution<int> one_in_eight(0, 7);
    if (options_.faults.bitflip && one_in_eight(rng_) == 0) {
        writer_.queue(hit_by_noise(sentence));
        return;
    }
    writer_.queue(sentence);
}

std::string Receiver::hit_by_noise(const std::string& sentence) {
    // One bit of one body character, keeping the framing ('$', '*', the line
    // end) and printable ASCII, so that the line still arrives as a sentence.
    const std::size_t star = sentence.find('*');
    std::uniform_int_distribution<std::size_t> where(1, star - 1);
    std::uniform_int_distribution<int> bit(0, 6);
    std::string hit = sentence;
    for (;;) {
        const std::size_t i = where(rng_);
        const char c = static_cast<char>(sentence[i] ^ (1 << bit(rng_)));
        if (c < 0x20 || c > 0x7E || c == '$' || c == '*') continue;
        hit[i] = c;
        break;
    }
    report_.emit(JsonLine("bitflip")
                     .str("sent", sentence.substr(0, star + 3))
                     .str("hit", hit.substr(0, star + 3)));
    return hit;
}

void Receiver::send_byte(std::uint8_t b) {
    if (options_.faults.silent) return;
    writer_.queue(&b, 1);
}

void Receiver::set_rate(int rate) {
    if (rate == rate_) return;
    rate_ = rate;
    writer_.clear();
    port_.set_own_rate(rate);
    report_.emit(JsonLine("baud").num("rate", rate));
}

void Receiver::add_garbage() {
    std::uniform_int_distribution<int> chance(0, 2);
    if (chance(rng_) != 0) return;
    std::uniform_int_distribution<int> len(1, 24);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string junk;
    for (int i = len(rng_); i > 0; --i) {
        int b = byte(rng_);
        if (b == '$') b = '#';
        junk += static_cast<char>(b);
    }
    writer_.queue(junk);
}

void Receiver::on_input(const std::uint8_t* data, std::size_t n, double now) {
    if (n == 0) return;
    if (mode_ == Mode::Loader) {
        loader_input(data, n, now);
        return;
    }
    if (!peer_matches()) {
        count_garbled(n, now);
        lines_.reset();
        return;
    }
    if (mode_ == Mode::Vbi) {
        vbi_input(data, n, now);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (lines_.push(data[i])) {
            handle_line(lines_.take(), now);
            // A command may have switched the input (boot loader, VBI): the
            // rest of this input belongs to the new mode.
            if (mode_ != Mode::Nmea) {
                on_input(data + i + 1, n - i - 1, now);
                return;
            }
        }
    }
}

void Receiver::count_garbled(std::size_t n, double now) {
    if (garbled_ == 0) garbled_since_ = now;
    garbled_ += n;
}

void Receiver::handle_line(const std::string& line, double now) {
    const Command cmd = parse_command(line);
    report_.emit(JsonLine("command")
                     .str("text", line)
                     .boolean("ok", cmd.checksum_ok)
                     .str("kind", cmd.checksum_ok ? command_name(cmd.kind) : "bad-checksum"));
    if (cmd.checksum_ok) handle_command(cmd, now);
}

void Receiver::handle_command(const Command& cmd, double now) {
    switch (cmd.kind) {
        case CommandKind::FirmwareVersion:
            send(kVersionReply);
            break;
        case CommandKind::CustomerVersion:
            // The text ends in a comma so that it is one field of its own.
            send("PKVX28,01," + options_.customer_version + ",");
            break;
        case CommandKind::ColdStart:
        case CommandKind::WarmStart:
        case CommandKind::HotStart: {
            const StartKind kind = cmd.kind == CommandKind::ColdStart   ? StartKind::Cold
                                   : cmd.kind == CommandKind::WarmStart ? StartKind::Warm
                                                                        : StartKind::Hot;
            sky_.set_single_channel(std::nullopt, now);
            sky_.restart(kind, now);
            report_.emit(JsonLine("restart").str("kind", command_name(cmd.kind)));
            send(kVersionReply);
            break;
        }
        case CommandKind::BaudFirstStep:
            if (baud_for_code(cmd.baud_code) != 0) {
                pending_baud_code_ = cmd.baud_code;
                send("PKVX200,9,1");
            } else {
                pending_baud_code_.reset();
                send("PKVX200,9,0");
            }
            break;
        case CommandKind::BaudSecondStep:
            if (pending_baud_code_) {
                const int rate = baud_for_code(*pending_baud_code_);
                pending_baud_code_.reset();
                nmea_rate_ = rate;
                set_rate(rate);
            }
            break;
        case CommandKind::SelectSentence:
            selection_.on[static_cast<std::size_t>(cmd.sentence)] = cmd.sentence_on;
            break;
        case CommandKind::SingleChannelEnter:
            sky_.set_single_channel(cmd.prn, now);
            break;
        case CommandKind::SingleChannelExit:
            sky_.set_single_channel(std::nullopt, now);
            break;
        case CommandKind::Programming:
            enter_loader(cmd.target, now);
            break;
        case CommandKind::VbiInput:
            mode_ = Mode::Vbi;
            vbi_.reset();
            vbi_frames_ = 0;
            last_vbi_input_ = now;
            report_.emit(JsonLine("vbi").str("state", "on"));
            break;
        case CommandKind::Unknown:
            break;
    }
}

void Receiver::emit_epoch(long long utc_seconds, double now) {
    ++epochs_;
    // A line too slow for the selected sentences drops whole epochs rather
    // than fall ever further behind.
    if (writer_.pending() > 2048) return;
    const Epoch e = sky_.epoch(now, utc_seconds, 0);
    const auto bodies = epoch_bodies(e, selection_);
    for (const std::string& body : bodies) {
        if (options_.faults.garbage) add_garbage();
        send(body);
    }
    if (options_.faults.longline && epochs_ % 5 == 2) {
        // Longer than any line buffer of the program (499 characters).
        send("GPRMC,LONGLINE" + std::string(600, 'X'));
    }
    if (options_.faults.burst && !burst_done_ && epochs_ >= 3 && !options_.faults.silent) {
        burst_done_ = true;
        std::string burst;
        while (burst.size() <= 6000)
            for (const std::string& body : bodies) burst += nmea::sentence(body);
        // Unpaced, in one go: more than the driver's 4 KiB queue.
        const std::size_t taken =
            port_.write_some(reinterpret_cast<const std::uint8_t*>(burst.data()), burst.size());
        report_.emit(JsonLine("burst")
                         .num("bytes", static_cast<long long>(burst.size()))
                         .num("taken", static_cast<long long>(taken)));
    }
}

void Receiver::play(const Recording& recording, bool loop) {
    replay_ = &recording;
    replay_loop_ = loop;
    replay_next_ = 0;
    replay_ended_ = false;
    report_.emit(JsonLine("replay")
                     .str("state", "start")
                     .num("epochs", static_cast<long long>(recording.epochs().size()))
                     .num("lines", static_cast<long long>(recording.line_count())));
}

void Receiver::emit_replay_epoch() {
    if (replay_ended_) return;
    if (replay_next_ == replay_->epochs().size()) {
        if (!replay_loop_) {
            // The recording is over: the receiver goes quiet but still answers.
            replay_ended_ = true;
            report_.emit(JsonLine("replay").str("state", "end"));
            return;
        }
        replay_next_ = 0;
        report_.emit(JsonLine("replay").str("state", "loop"));
    }
    // Recorded lines go out exactly as recorded, checksums and line ends included.
    // A silent receiver still moves through the recording, so that it ends.
    if (!options_.faults.silent)
        for (const std::string& line : replay_->epochs()[replay_next_]) writer_.queue(line);
    ++replay_next_;
}

double Receiver::tick(double now) {
    double wait = 0.05;
    if (garbled_ > 0 && now - garbled_since_ >= 0.2) {
        report_.emit(JsonLine("garbled")
                         .num("bytes", static_cast<long long>(garbled_))
                         .num("rate", port_.peer_rate()));
        garbled_ = 0;
    }
    if (mode_ == Mode::Loader) {
        loader_tick(now);
    } else {
        const long long ms = utc_now_millis();
        if (replay_ && ms / 1000 >= next_epoch_utc_) {
            // A recorded epoch never overtakes the previous one still on the
            // line, so nothing is dropped at a slow rate.
            if (writer_.empty()) {
                emit_replay_epoch();
                next_epoch_utc_ = ms / 1000 + 1;
            }
        } else if (ms / 1000 >= next_epoch_utc_) {
            // After a long stall (suspend) skip ahead instead of a flood of epochs.
            if (ms / 1000 > next_epoch_utc_ + 2) next_epoch_utc_ = ms / 1000;
            emit_epoch(next_epoch_utc_, now);
            ++next_epoch_utc_;
        }
        if (auto ttff = sky_.take_ttff(now)) {
            char body[32];
            std::snprintf(body, sizeof body, "PKVX119,%.1f", *ttff);
            send(body);
            report_.emit(JsonLine("ttff").real("seconds", *ttff));
        }
        if (mode_ == Mode::Vbi && vbi_.partial() && now - last_vbi_input_ > 2.0) {
            last_vbi_input_ = now;
            vbi_input(nullptr, 0, now);
        }
        const double to_epoch = static_cast<double>(next_epoch_utc_ * 1000 - ms) / 1000.0;
        wait = std::clamp(to_epoch, 0.001, 0.05);
        // A recorded epoch waiting for the line: the writer says when to look again.
        if (replay_ && to_epoch <= 0 && !writer_.empty()) wait = 0.05;
    }
    const double writer_wait = writer_.pump(port_, now, rate_, peer_matches());
    return std::min(wait, writer_wait);
}

// ---- Boot loader -----------------------------------------------------------

void Receiver::enter_loader(int target, double now) {
    mode_ = Mode::Loader;
    target_ = target;
    phase_ = LoaderPhase::WaitRate;
    phase_since_ = now;
    last_loader_input_ = now;
    xmodem_ = xmodem::Receiver{};
    writer_.clear();  // the loader is silent: no more NMEA
    report_.emit(JsonLine("bootloader").str("state", "enter").num("target", target));
    set_rate(115200);
}

void Receiver::loader_input(const std::uint8_t* data, std::size_t n, double now) {
    const int peer = port_.peer_rate();
    if (phase_ == LoaderPhase::WaitRate || phase_ == LoaderPhase::Erasing) {
        // The programming sentence comes twice; the repeat (and anything else
        // sent as text before the loader asks for data) is recorded, not acted on.
        if (peer != nmea_rate_ && peer != 115200) {
            count_garbled(n, now);
            return;
        }
        for (std::size_t i = 0; i < n; ++i)
            if (lines_.push(data[i]))
                report_.emit(JsonLine("command")
                                 .str("text", lines_.take())
                                 .boolean("ok", true)
                                 .str("kind", "ignored-by-loader"));
        return;
    }
    if (peer != 115200) {
        count_garbled(n, now);
        return;
    }
    last_loader_input_ = now;
    const auto& f = options_.faults;
    if (f.vanish_after_blocks >= 0 && xmodem_.blocks_ok() >= f.vanish_after_blocks) {
        // Gone mid-transfer without any cleanup: the port vanishes under the program.
        _exit(3);
    }
    for (const xmodem::Event& e : xmodem_.feed(data, n)) {
        if (e.answer) send_byte(e.answer);
        switch (e.kind) {
            case xmodem::EventKind::Block:
            case xmodem::EventKind::Duplicate: {
                JsonLine line("block");
                line.num("number", e.number)
                    .num("size", static_cast<long long>(e.size))
                    .boolean("ok", e.ok);
                if (e.kind == xmodem::EventKind::Duplicate) line.boolean("duplicate", true);
                if (!e.ok) line.str("reason", e.reason);
                report_.emit(line);
                break;
            }
            case xmodem::EventKind::Eot: {
                report_.emit(JsonLine("eot"));
                const auto& image = xmodem_.image();
                const std::string tmp = options_.image_out + ".part";
                bool written = false;
                {
                    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
                    out.write(reinterpret_cast<const char*>(image.data()),
                              static_cast<std::streamsize>(image.size()));
                    written = static_cast<bool>(out);
                }
                written = written && std::rename(tmp.c_str(), options_.image_out.c_str()) == 0;
                report_.emit(JsonLine("image")
                                 .str("path", options_.image_out)
                                 .num("bytes", static_cast<long long>(image.size()))
                                 .num("blocks", xmodem_.blocks_ok())
                                 .boolean("written", written));
                leave_loader("done", now);
                return;
            }
            case xmodem::EventKind::Cancel:
                leave_loader("cancelled", now);
                return;
        }
    }
    if (xmodem_.started()) phase_ = LoaderPhase::Receiving;
}

void Receiver::loader_tick(double now) {
    switch (phase_) {
        case LoaderPhase::WaitRate:
            if (port_.peer_rate() == 115200) {
                phase_ = LoaderPhase::Erasing;
                phase_since_ = now;
                report_.emit(JsonLine("bootloader").str("state", "erasing").num("target", target_));
            } else if (now - phase_since_ > options_.loader_timeout) {
                leave_loader("timeout", now);
            }
            break;
        case LoaderPhase::Erasing:
            if (now - phase_since_ >= scaled(options_.erase_seconds)) {
                phase_ = LoaderPhase::Nak;
                phase_since_ = now;
                next_nak_ = now;
                lines_.reset();
            }
            break;
        case LoaderPhase::Nak:
            if (now - phase_since_ > options_.loader_timeout) {
                leave_loader("timeout", now);
            } else if (!options_.faults.no_nak && now >= next_nak_ && port_.peer_rate() == 115200) {
                send_byte(xmodem::kNAK);
                report_.emit(JsonLine("bootloader").str("state", "nak").num("target", target_));
                next_nak_ = now + std::max(0.1, scaled(1.0));
            }
            break;
        case LoaderPhase::Receiving:
            // A block stalled half-way is refused; a sender gone for good ends the loader.
            if (xmodem_.in_block() && now - last_loader_input_ > 1.0) {
                for (const auto& e : xmodem_.expire_partial()) {
                    send_byte(e.answer);
                    report_.emit(JsonLine("block")
                                     .num("number", e.number)
                                     .num("size", static_cast<long long>(e.size))
                                     .boolean("ok", false)
                                     .str("reason", e.reason));
                }
            }
            if (now - last_loader_input_ > std::min(options_.loader_timeout, 10.0))
                leave_loader("timeout", now);
            break;
    }
}

void Receiver::leave_loader(const char* state, double now) {
    report_.emit(JsonLine("bootloader").str("state", state).num("target", target_));
    // Let the last ACK go out at the loader's rate before switching back.
    while (!writer_.empty()) {
        writer_.pump(port_, now, rate_, true);
        usleep(1000);
        now += 0.001;
    }
    mode_ = Mode::Nmea;
    lines_.reset();
    set_rate(nmea_rate_);
    // The receiver restarts after its loader.
    sky_.set_single_channel(std::nullopt, now);
    sky_.restart(StartKind::Hot, now);
}

// ---- VBI input ---------------------------------------------------------------

void Receiver::vbi_input(const std::uint8_t* data, std::size_t n, double now) {
    const auto frames = n > 0 ? vbi_.feed(data, n) : vbi_.expire_partial();
    if (n > 0) last_vbi_input_ = now;
    for (const vbi::Frame& f : frames) {
        if (f.switch_back) {
            report_.emit(JsonLine("vbi")
                             .str("state", "off")
                             .num("frames", vbi_frames_)
                             .num("skipped", static_cast<long long>(vbi_.skipped_total())));
            mode_ = Mode::Nmea;
            lines_.reset();
            // Whatever followed the switch-back frame is NMEA input again.
            const std::vector<std::uint8_t> rest = vbi_.take_rest();
            on_input(rest.data(), rest.size(), now);
            return;
        }
        ++vbi_frames_;
        report_.emit(JsonLine("frame")
                         .str("hex", hex_bytes(f.bytes.data(), f.bytes.size()))
                         .num("length", static_cast<long long>(f.payload_length))
                         .num("size", static_cast<long long>(f.bytes.size()))
                         .num("skipped", static_cast<long long>(f.skipped_before)));
    }
}

}  // namespace sim
