// Xmodem_1K of a 491,520-byte firmware file (480 blocks) over a pseudo-terminal
// at 115200 baud, against a boot loader that acknowledges each block at once.
//
// Reported per run: blocks per second; the engine's time; the time the same
// writes and ACK polls take when done directly through the port functions (the
// port's share); the rest, the engine's own work (block building, file reads),
// as a share of the transfer and against the line-rate minimum at 115,200 baud
// and 10 bits per byte. XMODEM waits for each ACK before the next block, so
// that minimum is the 480 blocks of 1028 bytes and the EOT one way plus the
// 481 ACKs the other way, one after the other: 493,922 byte times, 42.9 s.
//
//   cmake --preset bench && cmake --build build/bench --target bench_xmodem
//   build/bench/bench/bench_xmodem
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "zorvik_testing.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileSize = 491520;
constexpr std::size_t kBlocks = kFileSize / 1024;
constexpr std::size_t kBlockBytes = 1028;
constexpr std::size_t kWireBytes = kBlocks * kBlockBytes + 1;  // EOT behind the last block
constexpr std::size_t kAcks = kBlocks + 1;                     // one per block and the EOT's

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("cannot create a pseudo-terminal");
        slave_path_ = ptsname(master_);
        keep_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (keep_ >= 0 && tcgetattr(keep_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(keep_, TCSANOW, &t);
        }
    }
    ~Pty() {
        ::close(keep_);
        ::close(master_);
    }
    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

  private:
    int master_ = -1, keep_ = -1;
    std::string slave_path_;
};

// The boot loader: reads 1028-byte blocks and answers each with ACK as soon as
// it is complete, then acknowledges the EOT.
class AckingPeer {
  public:
    explicit AckingPeer(int master) : master_(master) {
        thread_ = std::thread([this] { run(); });
    }
    ~AckingPeer() {
        stop_ = true;
        thread_.join();
    }

  private:
    void run() {
        std::vector<std::uint8_t> buf(8192);
        std::size_t received = 0;
        while (!stop_ && received < kWireBytes) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t r = ::read(master_, buf.data(), buf.size());
            if (r <= 0) continue;
            const std::size_t before = received / kBlockBytes;
            received += static_cast<std::size_t>(r);
            const std::size_t blocks = std::min(received / kBlockBytes, kBlocks);
            const std::uint8_t ack = 0x06;
            for (std::size_t i = before; i < blocks; ++i) (void)!::write(master_, &ack, 1);
            if (received == kWireBytes) (void)!::write(master_, &ack, 1);
        }
    }
    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The port work of one transfer done directly: the same writes, each followed
// by the same one-byte reads until the ACK.
double port_only_seconds() {
    std::vector<std::uint8_t> block(kBlockBytes + 1, 0x5A);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < kBlocks; ++i) {
        const std::size_t n = i + 1 == kBlocks ? kBlockBytes + 1 : kBlockBytes;
        if (!zorvik::port_write(block.data(), n)) return -1;
        std::uint8_t b = 0;
        while (!(zorvik::port_read_byte(b) == 1 && b == 0x06)) {
        }
    }
    std::uint8_t b = 0;
    while (!(zorvik::port_read_byte(b) == 1 && b == 0x06)) {
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_Xmodem1K_Firmware(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / "zorvik-bench-firmware.bin";
    {
        std::vector<char> data(kFileSize);
        for (std::size_t i = 0; i < kFileSize; ++i) data[i] = static_cast<char>(i * 131 + 7);
        std::ofstream(path, std::ios::binary).write(data.data(), kFileSize);
    }
    Pty pty;
    if (COM_Open(pty.slave_path().c_str(), "115200") == 0) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    double engine_total = 0, port_total = 0;
    for (auto _ : state) {
        double port = 0;
        {
            AckingPeer peer(pty.master());
            port = port_only_seconds();
        }
        AckingPeer peer(pty.master());
        const auto start = Clock::now();
        const int result = Xmodem_1K(path.string().c_str());
        const double engine = std::chrono::duration<double>(Clock::now() - start).count();
        if (result != ZORVIK_XMODEM_OK || port < 0) {
            state.SkipWithError("transfer failed");
            break;
        }
        state.SetIterationTime(engine);
        engine_total += engine;
        port_total += port;
    }
    COM_Close();
    std::filesystem::remove(path);

    const double runs = static_cast<double>(state.iterations());
    const double engine = engine_total / runs, port = port_total / runs;
    // Negative when the difference is below the run-to-run noise of the port.
    const double own = engine - port;
    const double line_rate = static_cast<double>(kWireBytes + kAcks) * 10.0 / 115200.0;
    state.counters["blocks_per_s"] = static_cast<double>(kBlocks) / engine;
    state.counters["engine_ms"] = engine * 1e3;
    state.counters["port_ms"] = port * 1e3;
    state.counters["own_share_pct"] = 100.0 * own / engine;
    state.counters["line_rate_s"] = line_rate;
    state.counters["own_vs_line_pct"] = 100.0 * own / line_rate;
    state.counters["engine_vs_line_pct"] = 100.0 * engine / line_rate;
}
BENCHMARK(BM_Xmodem1K_Firmware)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
