// The library on Win32 serial ports. Under Wine COM1 and COM2 are the two
// ends of one socat pseudo-terminal pair (scripts/wine-test.sh sets it up and
// sets ZORVIK_SERIAL_PAIR); on Windows any two connected ports serve, named by
// ZORVIK_TEST_PORT and ZORVIK_PEER_PORT. The library opens the first through
// its exports, as the program does; the test plays the receiver on the other
// with raw Win32 calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "open_failure.h"
#include "serial_port.h"

namespace {

namespace serial = zorvik::serial;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

std::string env_or(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : std::string(fallback);
}

bool ports_ready() {
    return std::getenv("ZORVIK_SERIAL_PAIR") != nullptr;
}

const std::string& port_name() {
    static const std::string name = env_or("ZORVIK_TEST_PORT", "COM1");
    return name;
}
const std::string& peer_name() {
    static const std::string name = env_or("ZORVIK_PEER_PORT", "COM2");
    return name;
}

long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

HANDLE as_handle(int value) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

// The receiver's sentence ending: "*", the XOR of the characters between the
// leading '$' and the '*' as two upper-case hex digits, CR LF.
std::string with_checksum(const std::string& body) {
    unsigned sum = 0;
    for (std::size_t i = 1; i < body.size(); ++i) sum ^= static_cast<unsigned char>(body[i]);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum & 0xFF);
    return body + tail;
}

Bytes to_bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string temp_dir() {
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH, buf);
    return std::string(buf, n);
}

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// The receiver's end of the line, driven with raw Win32 calls only.
class Peer {
  public:
    explicit Peer(const std::string& name) {
        h_ = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
        if (h_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + name);
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutConstant = 20;  // short reads, gathered below
        SetCommTimeouts(h_, &t);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(h_, &dcb);
        BuildCommDCBA("115200,N,8,1", &dcb);
        SetCommState(h_, &dcb);
    }
    ~Peer() { CloseHandle(h_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void write(const Bytes& data) {
        DWORD written = 0;
        if (!WriteFile(h_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
            written != data.size())
            throw std::runtime_error("peer write failed");
    }
    void write(const std::string& text) { write(to_bytes(text)); }

    // Exactly n bytes, or fewer when timeout_ms passes first.
    Bytes read_exact(std::size_t n, int timeout_ms = 3000) {
        Bytes out;
        const auto start = Clock::now();
        std::uint8_t buf[4096];
        while (out.size() < n && elapsed_ms(start) < timeout_ms) {
            DWORD got = 0;
            const DWORD want =
                static_cast<DWORD>(std::min<std::size_t>(sizeof buf, n - out.size()));
            if (!ReadFile(h_, buf, want, &got, nullptr)) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // Whatever arrives until the line has been quiet for quiet_ms.
    Bytes read_until_quiet(int quiet_ms, int timeout_ms = 5000) {
        Bytes out;
        const auto start = Clock::now();
        auto last = Clock::now();
        std::uint8_t buf[4096];
        while (elapsed_ms(last) < quiet_ms && elapsed_ms(start) < timeout_ms) {
            DWORD got = 0;
            if (!ReadFile(h_, buf, sizeof buf, &got, nullptr)) break;
            if (got > 0) {
                out.insert(out.end(), buf, buf + got);
                last = Clock::now();
            }
        }
        return out;
    }

    void drain() {
        PurgeComm(h_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        read_until_quiet(100);
    }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

class Win32Serial : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ports_ready())
            GTEST_SKIP() << "needs the COM port pair that scripts/wine-test.sh sets up";
        COM_Close();
        peer_ = std::make_unique<Peer>(peer_name());
        peer_->drain();
    }
    void TearDown() override { COM_Close(); }

    // Opens the library's port and empties what an earlier test left on the line.
    int open_port(const char* baud = "115200") {
        const int h = COM_Open(port_name().c_str(), baud);
        if (h != 0) serial::purge(h, serial::kPurgeAll);
        return h;
    }

    // Opens the library's port keeping what waits on the line.
    int open_port_without_purge(const char* baud = "115200") {
        return COM_Open(port_name().c_str(), baud);
    }

    std::unique_ptr<Peer> peer_;
};

// ---- Open, close, status, line settings, time-outs ------------------------

TEST_F(Win32Serial, OpenInstallsEightNOneWithoutFlowControlAtEveryRate) {
    for (const char* baud : {"4800", "9600", "19200", "38400", "57600", "115200"}) {
        SCOPED_TRACE(baud);
        const int h = COM_Open(port_name().c_str(), baud);
        ASSERT_NE(h, 0);
        EXPECT_EQ(GetComPort_connected_Status(), 1);

        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(as_handle(h), &dcb));
        EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(std::atoi(baud)));
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        EXPECT_FALSE(dcb.fOutX);
        EXPECT_FALSE(dcb.fInX);
        EXPECT_FALSE(dcb.fOutxCtsFlow);
        EXPECT_NE(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));

        COMMTIMEOUTS t{};
        ASSERT_TRUE(GetCommTimeouts(as_handle(h), &t));
        EXPECT_EQ(t.ReadIntervalTimeout, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
        // Writes are bounded: the time the bytes need, plus one second.
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier,
                  static_cast<DWORD>((10000 + std::atoi(baud) - 1) / std::atoi(baud)));
        EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

        COM_Close();
        EXPECT_EQ(GetComPort_connected_Status(), 0);
    }
}

TEST_F(Win32Serial, ReadWithNothingArrivingReturnsAfterAboutOneTimeOut) {
    const int h = open_port();
    ASSERT_NE(h, 0);
    std::uint8_t buf[64];
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(serial::read_some(h, buf, sizeof buf), 0);
        const long ms = elapsed_ms(start);
        EXPECT_GE(ms, 60);
        EXPECT_LT(ms, 2000);
    }
    // The one-byte reader the program's reader thread uses gives up the same way.
    serial::ByteReader reader;
    std::uint8_t b = 0;
    const auto start = Clock::now();
    EXPECT_EQ(reader.read_byte(h, b), 0);
    EXPECT_GE(elapsed_ms(start), 60);
}

// A read asks the driver for what has arrived; it must not sit out the
// 100 ms time-out while bytes are there (an XMODEM acknowledgement poll
// reads through it once per block). Thirty round trips that each waited out
// the time-out would take at least 3 s.
TEST_F(Win32Serial, ReadReturnsWhatHasArrivedWithoutWaitingOutTheTimeOut) {
    const int h = open_port();
    ASSERT_NE(h, 0);
    std::uint8_t buf[256];
    const auto start = Clock::now();
    for (int i = 0; i < 30; ++i) {
        peer_->write(Bytes{0x06});
        long n = 0;
        for (int tries = 0; tries < 20 && n == 0; ++tries)
            n = serial::read_some(h, buf, sizeof buf);
        ASSERT_EQ(n, 1);
        EXPECT_EQ(buf[0], 0x06);
    }
    EXPECT_LT(elapsed_ms(start), 2900);
}

TEST_F(Win32Serial, BytesCrossTheLineBothWays) {
    const int h = open_port();
    ASSERT_NE(h, 0);
    const std::string line =
        with_checksum("$GPRMC,092751.000,A,5321.6802,N,00630.3372,W,0.06,31.66,280511,,,A");
    peer_->write(line);

    // Read the way the program's reader does: one byte at a time to the LF.
    serial::ByteReader reader;
    std::string got;
    const auto start = Clock::now();
    while (got.size() < line.size() && elapsed_ms(start) < 3000) {
        std::uint8_t b = 0;
        if (reader.read_byte(h, b) == 1) got.push_back(static_cast<char>(b));
    }
    EXPECT_EQ(got, line);

    const Bytes out = random_bytes(3000, 7);
    ASSERT_TRUE(serial::write_all(h, out.data(), out.size()));
    EXPECT_EQ(peer_->read_exact(out.size()), out);
}

TEST_F(Win32Serial, MalformedBaudKeepsThePreviousSpeed) {
    ASSERT_NE(COM_Open(port_name().c_str(), "19200"), 0);
    COM_Close();
    for (const char* bad : {"fast", "", "96OO"}) {
        SCOPED_TRACE(bad);
        const int h = COM_Open(port_name().c_str(), bad);
        ASSERT_NE(h, 0) << "a bad baud text still opens the port";
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(as_handle(h), &dcb));
        EXPECT_EQ(dcb.BaudRate, 19200u);
        COM_Close();
    }
}

TEST_F(Win32Serial, AbsentPortDoesNotOpen) {
    for (const char* name : {"COM97", "NOSUCHPORT", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(COM_Open(name, "9600"), 0);
        EXPECT_EQ(GetComPort_connected_Status(), 0);
        EXPECT_EQ(COM_LastOpenError(), *name ? ZORVIK_OPEN_ABSENT : ZORVIK_OPEN_NO_NAME);
    }
    // A failed open leaves no port behind: commands fail.
    EXPECT_EQ(CMD_HotStart(), 0);
}

bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(Win32Serial, PortHeldElsewhereCannotBeOpenedAndViceVersa) {
    const std::string path = "\\\\.\\" + port_name();
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const int h = COM_Open(port_name().c_str(), "9600");
    CloseHandle(other);
    if (h != 0 && running_under_wine())
        GTEST_SKIP() << "Wine does not apply share modes to serial devices: a second "
                        "open of a held COM port succeeds there (on Windows the serial "
                        "driver refuses it)";
    EXPECT_EQ(h, 0);
    EXPECT_EQ(GetComPort_connected_Status(), 0);

    ASSERT_NE(COM_Open(port_name().c_str(), "9600"), 0);
    other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "the library holds its port exclusively";
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

TEST_F(Win32Serial, LongBacklogIsDiscardedAtOpenShortOneKept) {
    // Sent while the library's port is closed: the bytes wait in its queue.
    peer_->write(Bytes(1500, 'x'));
    Sleep(500);
    int h = open_port_without_purge();
    ASSERT_NE(h, 0);
    EXPECT_EQ(serial::queued_input(h), 0u);
    std::uint8_t buf[2048];
    EXPECT_EQ(serial::read_some(h, buf, sizeof buf), 0);
    COM_Close();

    const Bytes shortlog = random_bytes(100, 3);
    peer_->write(shortlog);
    Sleep(500);
    h = open_port_without_purge();
    ASSERT_NE(h, 0);
    EXPECT_EQ(serial::queued_input(h), shortlog.size());
    Bytes got;
    for (int i = 0; i < 20 && got.size() < shortlog.size(); ++i) {
        const long n = serial::read_some(h, buf, sizeof buf);
        ASSERT_GE(n, 0);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, shortlog);
}

// ---- The backend's own contract -------------------------------------------

TEST_F(Win32Serial, SavedTimeOutsArePutBackExactly) {
    const serial::Port port = serial::open_exclusive(port_name());
    const serial::Handle h = port.handle;
    ASSERT_NE(h, serial::kInvalidHandle);
    EXPECT_EQ(port.writer, h);  // the write time-outs bound writes on the one handle
    COMMTIMEOUTS found{7, 3, 250, 2, 500};
    ASSERT_TRUE(SetCommTimeouts(reinterpret_cast<HANDLE>(h), &found));

    serial::SavedSettings saved;
    ASSERT_TRUE(serial::save_settings(h, saved));
    serial::configure(h, "9600,N,8,1");
    COMMTIMEOUTS now{};
    GetCommTimeouts(reinterpret_cast<HANDLE>(h), &now);
    EXPECT_EQ(now.ReadTotalTimeoutConstant, 100u);

    serial::restore_settings(h, saved);
    GetCommTimeouts(reinterpret_cast<HANDLE>(h), &now);
    EXPECT_EQ(now.ReadIntervalTimeout, 7u);
    EXPECT_EQ(now.ReadTotalTimeoutMultiplier, 3u);
    EXPECT_EQ(now.ReadTotalTimeoutConstant, 250u);
    EXPECT_EQ(now.WriteTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(now.WriteTotalTimeoutConstant, 500u);

    // A record from a failed save changes nothing.
    serial::restore_settings(h, serial::SavedSettings{});
    GetCommTimeouts(reinterpret_cast<HANDLE>(h), &now);
    EXPECT_EQ(now.ReadTotalTimeoutConstant, 250u);
    serial::close_port(port);
}

TEST(Win32Backend, InvalidHandleFailsQuietly) {
    const serial::Handle bad = serial::kInvalidHandle;
    EXPECT_EQ(reinterpret_cast<HANDLE>(bad), INVALID_HANDLE_VALUE);
    std::uint8_t buf[4];
    EXPECT_EQ(serial::read_some(bad, buf, sizeof buf), -1);
    EXPECT_FALSE(serial::write_all(bad, "x", 1));
    EXPECT_EQ(serial::queued_input(bad), 0u);
    serial::SavedSettings saved;
    EXPECT_FALSE(serial::save_settings(bad, saved));
    serial::purge(bad, serial::kPurgeAll);
    serial::configure(bad, "9600,N,8,1");
    serial::close_port(serial::Port{});
    EXPECT_EQ(serial::open_exclusive("").handle, serial::kInvalidHandle);
    EXPECT_EQ(serial::open_exclusive("COM97").handle, serial::kInvalidHandle);
}

// A handle value that names something other than a serial port (what a stale
// copy of a closed port's handle may come to name) is not read from.
TEST(Win32Backend, ReadOnAHandleThatIsNotASerialPortFails) {
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    DWORD written = 0;
    WriteFile(write_end, "abc", 3, &written, nullptr);
    std::uint8_t buf[8];
    EXPECT_EQ(serial::read_some(reinterpret_cast<serial::Handle>(read_end), buf, sizeof buf), -1);
    CloseHandle(read_end);
    CloseHandle(write_end);
}

TEST(Win32Backend, DevicePathUsesTheDeviceNamespace) {
    EXPECT_EQ(serial::device_path("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(serial::device_path("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(serial::device_path("\\\\.\\COM3"), "\\\\.\\COM3");
}

// ---- Port list ------------------------------------------------------------

// Adds test values to SERIALCOMM for the life of the object (the key is
// volatile: Wine rebuilds it at every start).
class SerialCommValues {
  public:
    SerialCommValues() {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~SerialCommValues() {
        for (const auto& n : names_) RegDeleteValueA(key_, n.c_str());
        if (key_) RegCloseKey(key_);
    }
    bool ok() const { return key_ != nullptr; }
    void add(const std::string& name, const std::string& data) {
        names_.push_back(name);
        RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
    }
    void add_dword(const std::string& name, DWORD v) {
        names_.push_back(name);
        RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                       sizeof v);
    }
    void remove(const std::string& name) {
        RegDeleteValueA(key_, name.c_str());
        names_.erase(std::remove(names_.begin(), names_.end(), name), names_.end());
    }

  private:
    HKEY key_ = nullptr;
    std::vector<std::string> names_;
};

std::vector<std::string> scan() {
    ScanComPort();
    ComInfo info{};
    GetScanComPortPara(&info);
    std::vector<std::string> names;
    for (int i = 0; i < info.count; ++i) names.emplace_back(info.names[i]);
    return names;
}

TEST_F(Win32Serial, ScanListsTheMappedPortsAndFollowsTheRegistry) {
    const std::vector<std::string> before = scan();
    EXPECT_NE(std::find(before.begin(), before.end(), port_name()), before.end());
    EXPECT_NE(std::find(before.begin(), before.end(), peer_name()), before.end());
    ASSERT_LT(before.size(), 15u) << "room for the test's own values";

    SerialCommValues values;
    ASSERT_TRUE(values.ok());
    values.add("\\Device\\ZorvikTest0", "COM40");
    values.add("\\Device\\ZorvikTest1", std::string(ZORVIK_PORT_NAME_SIZE, 'L'));      // no room
    values.add("\\Device\\ZorvikTest2", std::string(ZORVIK_PORT_NAME_SIZE - 1, 'F'));  // fits
    values.add("\\Device\\ZorvikTest3", "");
    values.add_dword("\\Device\\ZorvikTest4", 5);

    std::vector<std::string> with = scan();
    EXPECT_EQ(with.size(), before.size() + 2);
    EXPECT_NE(std::find(with.begin(), with.end(), "COM40"), with.end());
    EXPECT_NE(std::find(with.begin(), with.end(), std::string(ZORVIK_PORT_NAME_SIZE - 1, 'F')),
              with.end());
    for (const auto& name : with) EXPECT_LT(name.size(), std::size_t{ZORVIK_PORT_NAME_SIZE});

    // A port that goes away: the next scan gives the smaller count, and the
    // caller's entries beyond the count are left as they were.
    values.remove("\\Device\\ZorvikTest0");
    ScanComPort();
    ComInfo info{};
    std::strcpy(info.names[before.size() + 1], "untouched");
    GetScanComPortPara(&info);
    EXPECT_EQ(static_cast<std::size_t>(info.count), before.size() + 1);
    EXPECT_STREQ(info.names[before.size() + 1], "untouched");
}

TEST_F(Win32Serial, ScanKeepsAtMostTwentyNames) {
    const std::size_t before = scan().size();
    SerialCommValues values;
    ASSERT_TRUE(values.ok());
    for (int i = 0; i < 25; ++i) {
        char name[32], data[16];
        std::snprintf(name, sizeof name, "\\Device\\ZorvikMany%02d", i);
        std::snprintf(data, sizeof data, "COM%d", 100 + i);
        values.add(name, data);
    }
    EXPECT_EQ(scan().size(), std::size_t{ZORVIK_MAX_PORTS});
    EXPECT_EQ(serial::list_ports(3, ZORVIK_PORT_NAME_SIZE).size(), 3u);
    EXPECT_TRUE(serial::list_ports(0, ZORVIK_PORT_NAME_SIZE).empty());
    EXPECT_TRUE(serial::list_ports(20, 4).empty()) << "COMn needs 5 bytes with its NUL";
    (void)before;
}

// ---- Command sentences, byte for byte -------------------------------------

TEST_F(Win32Serial, CommandsArriveByteForByte) {
    ASSERT_NE(open_port("9600"), 0);
    struct Case {
        const char* name;
        std::function<int()> send;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"cold start", CMD_ColdStart, with_checksum("$PKVX02,5C")},
        {"warm start", CMD_WarmStart, with_checksum("$PKVX02,48")},
        {"hot start", CMD_HotStart, with_checksum("$PKVX02,8")},
        {"firmware version", CMD_FWVersion, with_checksum("$PKVX14,8")},
        {"customer version", CMD_CustomerVersion, with_checksum("$PKVX28,00")},
        {"baud rate 115200", [] { return CMD_Set_BuadRate(8); }, with_checksum("$PKVX09,2,8")},
        {"baud rate 4800", [] { return CMD_Set_BuadRate(1); }, with_checksum("$PKVX09,2,1")},
        {"baud rate second step", CMD_NMEA09_2ndCommmand, with_checksum("$PKVX09,,")},
        {"GSA on", [] { return CMD_SetNMEASentences(3, 0); }, with_checksum("$PKVX12,3,4,")},
        {"ZDA off", [] { return CMD_SetNMEASentences(7, 1); }, with_checksum("$PKVX12,7,0,")},
        {"single channel", [] { return In_Single_Channel_Mode('0', '6'); },
         with_checksum("$PKVX08,06")},
        {"leave single channel", Exit_Single_Channel_Mode, with_checksum("$PKVX08,,")},
        {"program AP", CMD_Prog_AP, with_checksum("$PKVX11,1,0,6,2,0")},
        {"program all", CMD_Prog_AllImage, with_checksum("$PKVX11,1,0,6,2,3")},
        {"input to VBI", CMD_NMEAToVBI_Input, with_checksum("$PKVX11,1,0,1,2,0")},
        {"input to NMEA", CMD_VBIToNMEA_Input,
         std::string("\x81\xFF\x0B\x00\x02\x00\xD0\xFF\x21\x02", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.send(), 0);
        const Bytes got = peer_->read_exact(c.expected.size());
        EXPECT_EQ(std::string(got.begin(), got.end()), c.expected);
    }
    EXPECT_TRUE(peer_->read_until_quiet(200).empty()) << "nothing beyond the commands";
}

TEST_F(Win32Serial, FreeCommandLineGoesOutWithItsChecksum) {
    ASSERT_NE(open_port("9600"), 0);
    std::string text = "$PKVX14,8*";
    CheckSum(text.c_str());
    EXPECT_NE(CMD_SendNMEACommand(text.c_str(), static_cast<int>(text.size())), 0);
    const std::string expected = with_checksum("$PKVX14,8");
    const Bytes got = peer_->read_exact(expected.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), expected);
}

TEST_F(Win32Serial, CommandsFailWithoutAnOpenPort) {
    ASSERT_NE(open_port("9600"), 0);
    COM_Close();
    EXPECT_EQ(CMD_ColdStart(), 0);
    EXPECT_EQ(CMD_Set_BuadRate(2), 0);
    EXPECT_TRUE(peer_->read_until_quiet(200).empty());
}

// ---- XMODEM ---------------------------------------------------------------

std::vector<Bytes> expected_1k_blocks(const Bytes& file) {
    std::vector<Bytes> blocks;
    const std::size_t count = (file.size() + 1023) / 1024;
    for (std::size_t i = 0; i < count; ++i) {
        const auto number = static_cast<std::uint8_t>(i + 1);
        Bytes b = {0x02, number, static_cast<std::uint8_t>(~number)};
        std::uint8_t sum = 0;
        for (std::size_t k = 0; k < 1024; ++k) {
            const std::size_t at = i * 1024 + k;
            const std::uint8_t d = at < file.size() ? file[at] : 0x1A;
            b.push_back(d);
            sum = static_cast<std::uint8_t>(sum + d);
        }
        b.push_back(sum);
        if (i + 1 == count) b.push_back(0x04);
        blocks.push_back(std::move(b));
    }
    return blocks;
}

TEST_F(Win32Serial, Xmodem1KBlocksAndEotGoOutWhole) {
    ASSERT_NE(open_port(), 0);
    const std::string path = temp_dir() + "zorvik-xmodem-1500.bin";
    const Bytes file = random_bytes(1500, 11);
    write_file(path, file);
    const std::vector<Bytes> expected = expected_1k_blocks(file);

    std::vector<Bytes> seen;
    std::thread receiver([&] {
        for (const Bytes& block : expected) {
            seen.push_back(peer_->read_exact(block.size()));
            peer_->write(Bytes{0x06});
        }
        peer_->write(Bytes{0x06});  // the acknowledgement of the EOT
    });
    const int result = Xmodem_1K(path.c_str());
    receiver.join();
    EXPECT_EQ(result, ZORVIK_XMODEM_OK);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].size(), 1028u);
    EXPECT_EQ(seen[1].size(), 1029u);
    EXPECT_EQ(seen, expected);
    DeleteFileA(path.c_str());
}

TEST_F(Win32Serial, XmodemWithoutAcknowledgementGivesUp) {
    ASSERT_NE(open_port(), 0);
    const std::string path = temp_dir() + "zorvik-xmodem-silent.bin";
    write_file(path, random_bytes(4096, 5));
    const auto start = Clock::now();
    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_NO_ACK);
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_EQ(peer_->read_until_quiet(200).size(), 1028u) << "no resend";
    EXPECT_EQ(Xmodem_1K((temp_dir() + "zorvik-no-such-file.bin").c_str()),
              ZORVIK_XMODEM_FILE_CANNOT_OPEN);
    DeleteFileA(path.c_str());
}

// Against the independent receiver (python3-xmodem on the Linux side of the
// peer port, started by wine-test.sh, which then keeps away from COM2): each
// file, padded with 0x1A to whole blocks, must arrive as it was sent.
TEST(Win32XmodemIndependentReceiver, FilesArriveUnchanged) {
    const std::string dir = env_or("ZORVIK_XMODEM_PEER_DIR", "");
    if (!ports_ready() || dir.empty())
        GTEST_SKIP() << "needs the python receiver that scripts/wine-test.sh starts";
    COM_Close();
    ASSERT_NE(COM_Open(port_name().c_str(), "115200"), 0);

    const std::vector<std::size_t> sizes = {1500, 2048, 300000};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        const Bytes file = random_bytes(sizes[i], static_cast<unsigned>(100 + i));
        const std::string source = temp_dir() + "zorvik-xmodem-source-" + std::to_string(i);
        write_file(source, file);

        bool nak = false;
        for (int tries = 0; tries < 30 && !nak; ++tries) nak = PollingXmodem_NAK() == 1;
        ASSERT_TRUE(nak) << "the receiver's NAK";
        EXPECT_EQ(Xmodem_1K(source.c_str()), ZORVIK_XMODEM_OK);

        const std::string received = dir + "\\recv_" + std::to_string(i) + ".bin";
        Bytes got;
        const auto start = Clock::now();
        while (elapsed_ms(start) < 15000) {
            if (GetFileAttributesA(received.c_str()) != INVALID_FILE_ATTRIBUTES) {
                got = read_file(received);
                break;
            }
            Sleep(50);
        }
        Bytes padded = file;
        padded.resize((file.size() + 1023) / 1024 * 1024, 0x1A);
        EXPECT_EQ(got.size(), padded.size());
        EXPECT_TRUE(got == padded);
        DeleteFileA(source.c_str());
    }
    COM_Close();
}

// ---- Ephemeris upload -----------------------------------------------------

Bytes vbi_frame(std::size_t payload, unsigned seed) {
    Bytes f = {0x81,
               0xFF,
               0x0B,
               0x00,
               static_cast<std::uint8_t>(payload & 0xFF),
               static_cast<std::uint8_t>(payload >> 8),
               0xD0,
               0xFF};
    const Bytes p = random_bytes(payload, seed);
    f.insert(f.end(), p.begin(), p.end());
    return f;
}

// A broadcast ephemeris file carrying time T, with three frames and a few
// bytes between them that do not start a frame.
Bytes be_file(std::uint32_t t, Bytes& frames_out) {
    std::string head = "BE,VBI,TEST\n";
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010u", static_cast<unsigned>(t));
    head += digits;
    head += "\r\n";
    Bytes file(head.begin(), head.end());
    frames_out.clear();
    const std::size_t payloads[] = {30, 56, 80};
    for (std::size_t i = 0; i < 3; ++i) {
        const Bytes f = vbi_frame(payloads[i], static_cast<unsigned>(i + 40));
        file.insert(file.end(), f.begin(), f.end());
        frames_out.insert(frames_out.end(), f.begin(), f.end());
        file.insert(file.end(), {0x00, 0x81, 0x00});  // a lone 0x81 is not a frame
    }
    file.resize(2048, 0x00);
    return file;
}

// Gives the library the receiver's time of now through an RMC sentence, and
// returns now on the files' time scale.
std::uint32_t feed_current_rmc() {
    const std::time_t unix_now = std::time(nullptr);
    std::tm utc{};
    gmtime_s(&utc, &unix_now);
    char body[128];
    std::snprintf(body, sizeof body,
                  "$GPRMC,%02d%02d%02d.000,A,2446.0000,N,12100.0000,E,0.0,0.0,%02d%02d%02d,,,A",
                  utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_mday, utc.tm_mon + 1,
                  utc.tm_year % 100);
    std::string line = with_checksum(body);
    line.resize(line.size() - 2);  // the reader cuts CR LF
    std::vector<char> buf(500, '\0');
    std::memcpy(buf.data(), line.data(), line.size());
    ParseNMEA(buf.data());
    return static_cast<std::uint32_t>(unix_now - 315964800) + 315964811u;
}

TEST_F(Win32Serial, BroadcastEphemerisFramesArriveUnchanged) {
    ASSERT_NE(open_port(), 0);
    const std::uint32_t now = feed_current_rmc();
    const std::string path = temp_dir() + "zorvik-be.bin";

    Bytes frames;
    write_file(path, be_file(now - 600, frames));
    EXPECT_EQ(UpdateBE(path.c_str()), 1);
    const Bytes got = peer_->read_exact(frames.size(), 10000);
    EXPECT_EQ(got, frames);
    EXPECT_TRUE(peer_->read_until_quiet(300).empty());

    // Out of its four hours: refused, nothing sent.
    write_file(path, be_file(now - 14400 - 3600, frames));
    EXPECT_EQ(UpdateBE(path.c_str()), 0);
    EXPECT_TRUE(peer_->read_until_quiet(300).empty());
    DeleteFileA(path.c_str());
}

// The frames of a broadcast ephemeris file, read the simple way: every sync
// pair after the first line starts a frame of 8 bytes plus its payload.
Bytes frames_of(const Bytes& file) {
    std::size_t q = 0;
    while (q < 18 && q < file.size() && file[q] != '\n') ++q;
    Bytes frames;
    while (q + 5 < file.size()) {
        if (file[q] == 0x81 && file[q + 1] == 0xFF) {
            const std::size_t len = 8 + (file[q + 4] | (file[q + 5] << 8));
            if (q + len > file.size()) break;
            frames.insert(frames.end(), file.begin() + q, file.begin() + q + len);
            q += len;
        } else {
            ++q;
        }
    }
    return frames;
}

// A file made by the project's A-GPS test server for the current time
// (wine-test.sh passes it when the server is there).
TEST_F(Win32Serial, BroadcastEphemerisFromTheTestServerArrivesUnchanged) {
    const std::string path = env_or("ZORVIK_BE_FIXTURE", "");
    if (path.empty()) GTEST_SKIP() << "no broadcast ephemeris file from the A-GPS test server";
    const Bytes frames = frames_of(read_file(path));
    ASSERT_FALSE(frames.empty());
    ASSERT_NE(open_port(), 0);
    feed_current_rmc();
    EXPECT_EQ(UpdateBE(path.c_str()), 1);
    EXPECT_EQ(peer_->read_exact(frames.size(), 60000), frames);
}

// ---- Disconnect while a reader reads ----------------------------------------

// The program disconnects by closing the port while its reader thread sits in
// a read on the same handle; the reader must come out and see the port closed,
// and never read from whatever object the closed handle's value names next.
TEST_F(Win32Serial, CloseEndsAReaderThreadOnTheSameHandle) {
    const int h = open_port();
    ASSERT_NE(h, 0);
    std::atomic<bool> started{false};
    std::atomic<std::size_t> bytes{0};
    std::thread reader([&] {
        serial::ByteReader r;
        std::uint8_t b = 0;
        started = true;
        while (GetComPort_connected_Status() == 1) {
            const int rc = r.read_byte(h, b);
            if (rc < 0) break;
            if (rc == 1) ++bytes;
        }
    });
    while (!started) Sleep(1);
    const std::string line = "$GPGGA,,,,,,0,00,,,,,,,*66\r\n";
    peer_->write(line);
    Sleep(300);
    const auto start = Clock::now();
    COM_Close();
    reader.join();
    EXPECT_LT(elapsed_ms(start), 3000);
    EXPECT_EQ(bytes.load(), line.size());
    EXPECT_EQ(GetComPort_connected_Status(), 0);
}

}  // namespace
