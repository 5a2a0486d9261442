// The link as a field engineer meets it, against the receiver simulator:
// every rate of the baud list, a receiver that vanishes, a peer that stops
// reading, and two users' simulators side by side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "port_registry.h"
#include "receiver_sim.h"
#include "serial_port.h"
#include "system_reader.h"
#include "zorvik_testing.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string write_random_file(const std::string& path, std::size_t size) {
    Bytes data(size);
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    return path;
}

// Leaves the pty at another rate, as an earlier session may have.
void set_speed(const std::string& device, speed_t speed) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
}

bool wait_for_nak(int timeout_ms) {
    const auto start = Clock::now();
    while (ms_since(start) < timeout_ms)
        if (PollingXmodem_NAK() == 1) return true;
    return false;
}

bool rmc_arrives(int handle, int timeout_ms) {
    CMD_Clear_parse_rmc_done();
    SystemReader reader(handle);
    return wait_for_state([](const ParseNMEAInfo& s) { return s.parse_rmc_done; }, timeout_ms);
}

// An FSA download started at each NMEA rate: the programming sentence
// arrives intact twice, the image equals the file, and the receiver talks at
// its NMEA rate again afterwards.
TEST(SystemField, FirmwareDownloadWorksAtEveryRateOfTheBaudList) {
    const struct {
        const char* baud;
        speed_t left_at;  // what an earlier session left on the pty
    } rates[] = {{"4800", B9600},  {"9600", B4800},  {"19200", B9600},
                 {"38400", B9600}, {"57600", B9600}, {"115200", B9600}};
    char tmpl[] = "/tmp/zorvik-field-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string file = write_random_file(std::string(tmpl) + "/fsa.bin", 8192);
    for (const auto& r : rates) {
        SCOPED_TRACE(r.baud);
        ReceiverSim sim({"--baud", r.baud, "--time-scale", "0.05"});
        set_speed(sim.device(), r.left_at);

        ASSERT_NE(COM_Open(sim.device().c_str(), r.baud), 0);
        ASSERT_NE(CMD_Prog_FSA(), 0);
        ASSERT_NE(CMD_Prog_FSA(), 0);
        COM_Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_NE(COM_Open(sim.device().c_str(), "115200"), 0);
        ASSERT_TRUE(wait_for_nak(3000));
        EXPECT_EQ(Xmodem_1K(file.c_str()), ZORVIK_XMODEM_OK);
        COM_Close();

        ASSERT_TRUE(sim.wait_for_report("\"state\":\"done\"", 3000));
        EXPECT_EQ(sim.count_reports("\"text\":\"$PKVX11,1,0,6,2,2*"), 2);
        EXPECT_EQ(sim.count_reports("garbled"), 0);
        EXPECT_EQ(read_file(sim.image_path()), read_file(file));

        const int h = COM_Open(sim.device().c_str(), r.baud);
        ASSERT_NE(h, 0);
        EXPECT_TRUE(rmc_arrives(h, 3000));
        COM_Close();
    }
    std::filesystem::remove_all(tmpl);
}

// The receiver goes away mid-stream and mid-transfer: the port is closed
// within a second without a busy loop, and a restarted receiver connects.
TEST(SystemField, VanishedReceiverIsNoticedWithinASecond) {
    char tmpl[] = "/tmp/zorvik-field-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string file = write_random_file(std::string(tmpl) + "/fw.bin", 16384);
    const struct {
        const char* when;
        std::vector<std::string> args;
        bool transfer;
    } cases[] = {
        {"mid-stream", {"--baud", "38400"}, false},
        {"mid-transfer", {"--baud", "38400", "--fault", "vanish-after-blocks=3"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        auto args = c.args;
        args.insert(args.end(), {"--time-scale", "0.05"});
        ReceiverSim sim(args);
        const std::string name = sim.port_name();
        zorvik::serial::set_registry_dir_for_testing(sim.registry_dir());
        int h = COM_Open(name.c_str(), "38400");
        ASSERT_NE(h, 0);
        Clock::time_point gone;
        if (c.transfer) {
            ASSERT_NE(CMD_Prog_FK(), 0);
            COM_Close();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ASSERT_NE(COM_Open(name.c_str(), "115200"), 0);
            ASSERT_TRUE(wait_for_nak(3000));
            const int result = Xmodem_1K(file.c_str());
            gone = Clock::now();
            EXPECT_TRUE(result == ZORVIK_XMODEM_WRITE_FAILED || result == ZORVIK_XMODEM_NO_ACK)
                << result;
        } else {
            ASSERT_TRUE(rmc_arrives(h, 3000));
            sim.kill9();
            gone = Clock::now();
        }
        // What the program's reader does: poll the status, read, and idle on failure.
        const double cpu_before = cpu_seconds();
        {
            SystemReader reader(h);
            while (GetComPort_connected_Status() != 0 && ms_since(gone) < 2000)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const long noticed_ms = ms_since(gone);
        const double cpu = cpu_seconds() - cpu_before;
        std::printf("vanished %s: noticed after %ld ms, %.0f ms CPU\n", c.when, noticed_ms,
                    cpu * 1000);
        EXPECT_EQ(GetComPort_connected_Status(), 0);
        EXPECT_LT(noticed_ms, 1000);
        EXPECT_LT(cpu, 0.3);
        EXPECT_EQ(CMD_Prog_FK(), 0);  // commands fail once it is gone

        ReceiverSim back(
            {"--baud", "38400", "--port-name", name, "--registry-dir", sim.registry_dir()});
        h = COM_Open(name.c_str(), "38400");
        ASSERT_NE(h, 0);
        EXPECT_TRUE(rmc_arrives(h, 3000));
        COM_Close();
        zorvik::serial::set_registry_dir_for_testing("");
    }
    std::filesystem::remove_all(tmpl);
}

// A receiver that stops reading: a write fails within the time its bytes
// need plus a second, and the close after it does not wait longer either.
TEST(SystemField, PeerThatReadsNothingCannotHoldTheLink) {
    ReceiverSim sim({"--baud", "115200", "--fault", "deaf"});
    const int h = COM_Open(sim.device().c_str(), "115200");
    ASSERT_NE(h, 0);
    const std::string chunk(4096, 'x');
    const long bound = zorvik::serial::write_bound_ms(h, chunk.size());
    long failed_ms = -1;
    for (int i = 0; i < 200 && failed_ms < 0; ++i) {
        const auto start = Clock::now();
        if (zorvik::port_write(chunk.data(), chunk.size()) == 0) failed_ms = ms_since(start);
    }
    const auto close_start = Clock::now();
    COM_Close();
    const long close_ms = ms_since(close_start);
    std::printf("deaf peer: write failed after %ld ms (bound %ld ms), close took %ld ms\n",
                failed_ms, bound, close_ms);
    EXPECT_GE(failed_ms, 900);
    EXPECT_LE(failed_ms, bound + 1000);  // slack for a loaded machine
    EXPECT_LE(close_ms, bound);
}

// A simulator run by another user, started before ours under the same name.
class OtherUsersSim {
  public:
    OtherUsersSim(const std::string& port_name) {
        std::vector<std::string> args = {"/usr/bin/setpriv",
                                         "--reuid=65534",
                                         "--regid=65534",
                                         "--clear-groups",
                                         "--",
                                         "/usr/bin/env",
                                         "-u",
                                         "XDG_RUNTIME_DIR",
                                         ZORVIK_RECEIVER_SIM,
                                         "--port-name",
                                         port_name,
                                         "--exit-with-parent"};
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string text;
        char buf[256];
        const auto start = Clock::now();
        while (pid_ > 0 && text.find("ready") == std::string::npos && ms_since(start) < 5000) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        close(out[0]);
        if (text.rfind("device ", 0) == 0) device_ = text.substr(7, text.find('\n') - 7);
    }
    ~OtherUsersSim() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& device() const { return device_; }

  private:
    pid_t pid_ = -1;
    std::string device_;
};

TEST(SystemField, TwoUsersSimulatorsDoNotInterfere) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a simulator as another user";
    zorvik::serial::set_registry_dir_for_testing("");
    const std::string registry = zorvik::serial::registry_dir();  // the user's own
    const std::string name = "FIELD" + std::to_string(getpid());

    OtherUsersSim other(name);
    ASSERT_FALSE(other.device().empty()) << "the other user's simulator did not start";
    ReceiverSim ours({"--registry-dir", registry, "--port-name", name});
    EXPECT_NE(ours.device(), other.device());

    // Our list holds the name once, and it opens our simulator's pty.
    ScanComPort();
    ComInfo info{};
    GetScanComPortPara(&info);
    int listed = 0;
    for (int i = 0; i < info.count; ++i) listed += name == info.names[i];
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(std::filesystem::canonical(zorvik::serial::device_path(name)).string(),
              ours.device());

    // A second simulator of ours may not take the name over.
    EXPECT_THROW(ReceiverSim({"--registry-dir", registry, "--port-name", name}),
                 std::runtime_error);
    EXPECT_EQ(std::filesystem::canonical(zorvik::serial::device_path(name)).string(),
              ours.device());
    std::filesystem::remove(registry + "/." + name + ".lock");
}

}  // namespace
