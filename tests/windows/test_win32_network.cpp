// Network ports in the Windows build, through Debian's ser2net on the Linux
// side: scripts/wine-test.sh puts one ser2net with a telnet(rfc2217) and a
// raw tcp accepter in front of a receiver simulator's pseudo-terminal and
// names them in ZORVIK_NET_RFC2217 and ZORVIK_NET_RAW. The simulator speaks
// only at the rate set on its pty, so a rate that does not follow reads as
// garbage. The library opens the port through its exports, as the program
// does; the test reads the handle through its own copy of the serial layer,
// as the program's reader does. Without that set-up the test skips itself.
//
// A second ser2net, named in ZORVIK_NET_DOOMED, is killed by the script once
// the test creates the file ZORVIK_NET_KILL_FILE names.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "serial_port.h"

namespace {

namespace serial = zorvik::serial;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

serial::Handle open_port(const std::string& url, const char* baud) {
    return static_cast<serial::Handle>(COM_Open(url.c_str(), baud));
}

// What one stretch of reading found.
struct Heard {
    int intact = 0;  // sentences whose checksum holds; the last read may bring more than asked
    bool foreign = false;  // a byte no receiver sends (a telnet command, 0xFF)
    bool lost = false;     // a read failed: the port reads as closed
};

bool receiver_byte(std::uint8_t b) {
    return b == '\r' || b == '\n' || (b >= 0x20 && b < 0x7f);
}

// Reads sentences from the handle until `enough` intact ones arrived, the
// time is up or a read fails; each intact one goes to ParseNMEA, as the
// program's reader hands them on (the baud-rate exchange's second step is
// written from there).
Heard listen(serial::Handle h, int enough, milliseconds limit, bool check_bytes = true) {
    Heard heard;
    std::string line;
    const auto deadline = Clock::now() + limit;
    std::uint8_t buf[512];
    while (heard.intact < enough && Clock::now() < deadline) {
        const long n = serial::read_some(h, buf, sizeof buf);
        if (n < 0) {
            heard.lost = true;
            break;
        }
        for (long i = 0; i < n; ++i) {
            const std::uint8_t b = buf[i];
            if (check_bytes && !receiver_byte(b)) heard.foreign = true;
            if (b == '$') line.clear();
            if (b == '\r' || b == '\n') {
                if (line.size() > 6 && line[0] == '$' && Calculate_CheckSum(line.c_str()) == 1) {
                    ++heard.intact;
                    std::vector<char> text(line.begin(), line.end());
                    text.resize(line.size() + 16, '\0');
                    ParseNMEA(text.data());
                }
                line.clear();
            } else if (line.size() < 200) {
                line.push_back(static_cast<char>(b));
            }
        }
    }
    return heard;
}

ParseNMEAInfo record() {
    ParseNMEAInfo info{};
    GetParseNMEAInfo(&info);
    return info;
}

class Win32Network : public ::testing::Test {
  protected:
    void SetUp() override {
        rfc2217_ = env("ZORVIK_NET_RFC2217");
        raw_ = env("ZORVIK_NET_RAW");
        if (rfc2217_.empty() || raw_.empty())
            GTEST_SKIP() << "needs the ser2net that scripts/wine-test.sh starts";
    }
    void TearDown() override { COM_Close(); }

    std::string rfc2217_, raw_;
};

TEST_F(Win32Network, BothKindsReadTheReceiverAndTakeItsCommands) {
    const struct {
        const char* kind;
        std::string url;
    } cases[] = {{"rfc2217", rfc2217_}, {"tcp", raw_}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const serial::Handle h = open_port(c.url, "9600");
        ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
        EXPECT_EQ(GetComPort_connected_Status(), 1);
        const Heard heard = listen(h, 5, milliseconds(10000));
        EXPECT_GE(heard.intact, 5);
        EXPECT_FALSE(heard.foreign) << "a byte that is no receiver's reached the handle";
        EXPECT_FALSE(heard.lost);
        EXPECT_FALSE(serial::device_gone(h));

        // A command goes out through the writer and its reply comes back.
        ASSERT_EQ(CMD_FWVersion(), 1);
        const auto deadline = Clock::now() + milliseconds(5000);
        while (record().parse_fw_ver_done != 1 && Clock::now() < deadline)
            if (listen(h, 1, milliseconds(200)).lost) break;
        EXPECT_EQ(record().parse_fw_ver_done, 1) << "no version reply";
        COM_Close();
        EXPECT_EQ(GetComPort_connected_Status(), 0);
    }
}

TEST_F(Win32Network, PurgeEmptiesWhatTheReceiverSentSoFar) {
    const serial::Handle h = open_port(rfc2217_, "9600");
    ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
    const auto deadline = Clock::now() + milliseconds(5000);
    while (serial::queued_input(h) < 100 && Clock::now() < deadline) Sleep(50);
    ASSERT_GE(serial::queued_input(h), 100u);
    serial::purge(h, serial::kPurgeRxClear);
    EXPECT_LT(serial::queued_input(h), 100u);
    // What follows the purge reads as before.
    EXPECT_GE(listen(h, 2, milliseconds(5000)).intact, 2);
}

// The baud-rate exchange as the program's dialog and zorvik baud take it: the
// rate command, the receiver's acknowledgement (on which the library writes
// the second step), the close, and the open at the new rate, whose
// SET-BAUDRATE makes ser2net set its device's rate.
TEST_F(Win32Network, RateFollowsTheReceiverThroughSetBaudRate) {
    const struct {
        const char* from;
        const char* to;
        int code;  // the receiver's code for the new rate
    } steps[] = {{"9600", "115200", 8}, {"115200", "9600", 2}};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.from) + " -> " + step.to);
        serial::Handle h = open_port(rfc2217_, step.from);
        ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
        ASSERT_GE(listen(h, 2, milliseconds(10000)).intact, 2) << "nothing at the old rate";

        CMD_Clear_NMEA09_2ndCommmand_done();
        ASSERT_EQ(CMD_Set_BuadRate(step.code), 1);
        const auto deadline = Clock::now() + milliseconds(5000);
        while (record().NMEA09_2ndCommmand_done == 0 && Clock::now() < deadline)
            if (listen(h, 1, milliseconds(200)).lost) break;
        ASSERT_NE(record().NMEA09_2ndCommmand_done, 0) << "no acknowledgement of the rate";
        CMD_Clear_NMEA09_2ndCommmand_done();
        COM_Close();  // lets the second step leave at the old rate

        // At the old rate the receiver now reads as garbage: the rate set
        // through the server is the one the device runs at.
        h = open_port(rfc2217_, step.from);
        ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
        EXPECT_EQ(listen(h, 1, milliseconds(2500), false).intact, 0);
        COM_Close();

        h = open_port(rfc2217_, step.to);
        ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
        const Heard heard = listen(h, 5, milliseconds(10000), false);
        EXPECT_GE(heard.intact, 5) << "no sentences at the new rate";
        COM_Close();
    }
}

double process_cpu_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

// Not a check: the figure for the README, what reading a stream through the
// relay costs this process (the relay, the reader's polls).
TEST_F(Win32Network, StreamingCostPrinted) {
    const serial::Handle h = open_port(rfc2217_, "9600");
    ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
    const double cpu_before = process_cpu_seconds();
    const auto start = Clock::now();
    const Heard heard = listen(h, 1'000'000, milliseconds(5000));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_FALSE(heard.lost);
    std::printf("streaming at 9600 through rfc2217: %d sentences in %.1f s, %.1f%% of a core\n",
                heard.intact, wall, 100 * (process_cpu_seconds() - cpu_before) / wall);
}

TEST(Win32NetworkFailures, EachFailureHasItsOwnReason) {
    const struct {
        const char* url;
        int reason;
    } cases[] = {
        {"rfc2217://127.0.0.1:1", ZORVIK_OPEN_REFUSED},
        {"tcp://127.0.0.1:1", ZORVIK_OPEN_REFUSED},
        {"rfc2217://127.0.0.1:0", ZORVIK_OPEN_BAD_ADDRESS},
        {"tcp://127.0.0.1", ZORVIK_OPEN_BAD_ADDRESS},
        {"rfc2217://[::1:1", ZORVIK_OPEN_BAD_ADDRESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(COM_Open(c.url, "9600"), 0);
        EXPECT_EQ(COM_LastOpenError(), c.reason);
        EXPECT_EQ(GetComPort_connected_Status(), 0);
    }
}

// The server killed mid-stream: the handle's reads fail and the library
// closes the port by itself, as for a pulled receiver.
TEST(Win32NetworkLost, ServerKilledMidStreamIsNoticed) {
    const std::string url = env("ZORVIK_NET_DOOMED");
    const std::string kill_file = env("ZORVIK_NET_KILL_FILE");
    if (url.empty() || kill_file.empty())
        GTEST_SKIP() << "needs the second ser2net that scripts/wine-test.sh kills";
    const serial::Handle h = open_port(url, "9600");
    ASSERT_NE(h, 0) << "open error " << COM_LastOpenError();
    ASSERT_GE(listen(h, 2, milliseconds(10000)).intact, 2);

    std::ofstream(kill_file) << "now\n";
    const auto asked = Clock::now();
    // The script looks for the file every 50 ms; the loss shows well within
    // the bound after that.
    const Heard heard = listen(h, 1000, milliseconds(5000));
    EXPECT_TRUE(heard.lost) << "reads went on after the server was killed";
    const auto deadline = Clock::now() + milliseconds(2000);
    while (GetComPort_connected_Status() != 0 && Clock::now() < deadline) Sleep(20);
    EXPECT_EQ(GetComPort_connected_Status(), 0);
    std::printf("loss noticed %lld ms after the kill was asked for\n",
                static_cast<long long>(
                    std::chrono::duration_cast<milliseconds>(Clock::now() - asked).count()));
    COM_Close();
}

}  // namespace
