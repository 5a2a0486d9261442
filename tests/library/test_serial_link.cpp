// The library's serial port, driven through its exports over real
// pseudo-terminal pairs: the library opens the slave side, the test plays the
// receiver on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "port_registry.h"
#include "pty_pair.h"
#include "serial_port.h"
#include "temp_dir.h"
#include "zorvik_testing.h"

namespace {

using zorvik::test::as_text;
using zorvik::test::PtyPair;
using zorvik::test::TempDir;
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Reads the pty's settings through a descriptor of our own.
termios settings_of(const std::string& path) {
    termios t{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
        EXPECT_EQ(::tcgetattr(fd, &t), 0);
        ::close(fd);
    }
    return t;
}

// Puts the pty into cooked mode at a known speed, as another program may
// have left it.
void set_cooked(const std::string& path, speed_t speed) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_iflag |= ICRNL | IXON;
    t.c_oflag |= OPOST;
    t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
}

class SerialLink : public ::testing::Test {
  protected:
    void SetUp() override { zorvik::serial::set_registry_dir_for_testing(registry_.path()); }
    void TearDown() override {
        COM_Close();
        zorvik::serial::set_registry_dir_for_testing("");
    }

    TempDir registry_;
    PtyPair pty_;
};

TEST_F(SerialLink, OpenInstallsRaw8N1WithoutFlowControl) {
    set_cooked(pty_.slave_path(), B19200);
    const int handle = COM_Open(pty_.slave_path().c_str(), "9600");
    ASSERT_NE(handle, 0);
    EXPECT_EQ(GetComPort_connected_Status(), 1);

    termios t{};
    ASSERT_EQ(::tcgetattr(handle, &t), 0);  // the handle value is the descriptor
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 1);
}

TEST_F(SerialLink, BaudTextSetsTheStandardRatesAndMalformedTextKeepsTheSpeed) {
    const struct {
        const char* text;
        speed_t expected;
    } cases[] = {
        {"4800", B4800},     {"9600", B9600},     {"19200", B19200},   {"38400", B38400},
        {"57600", B57600},   {"115200", B115200}, {"230400", B230400}, {"460800", B460800},
        {"921600", B921600}, {"", B19200},        {"abc", B19200},     {"96O0", B19200},
        {"-9600", B19200},   {"9600x", B19200},   {"12345", B19200},   {"99999999999999", B19200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        set_cooked(pty_.slave_path(), B19200);
        const int handle = COM_Open(pty_.slave_path().c_str(), c.text);
        ASSERT_NE(handle, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(handle, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), c.expected);
        EXPECT_EQ(t.c_lflag & ICANON, 0u);  // raw even when the speed stays
        COM_Close();
    }
}

TEST_F(SerialLink, ReadWithNothingArrivingReturnsAfterTheTimeOut) {
    ASSERT_NE(COM_Open(pty_.slave_path().c_str(), "115200"), 0);
    std::uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(zorvik::port_read_byte(byte), 0);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 50);
    EXPECT_LT(ms, 2000);
}

// The program reads the handle COM_Open returns with a plain read(): it must
// wait for the time-out on a quiet line (a read that returned at once would
// make every such reader spin) and return what has arrived without waiting.
TEST_F(SerialLink, PlainReadOnTheReturnedHandleWaitsAtMostTheTimeOut) {
    const struct {
        const char* line;
        std::string arriving;
        bool waits;
    } cases[] = {
        {"quiet", "", true},
        {"bytes waiting", "$GPGGA", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const int handle = COM_Open(pty_.slave_path().c_str(), "115200");
        ASSERT_NE(handle, 0);
        pty_.write(c.arriving);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

        char buf[64];
        const auto start = Clock::now();
        const ssize_t got = ::read(handle, buf, sizeof buf);
        const long ms = ms_since(start);
        ASSERT_GE(got, 0) << std::strerror(errno);
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(got)), c.arriving);
        if (c.waits) {
            EXPECT_GE(ms, 50);
            EXPECT_LE(ms, 1000);
        }
        COM_Close();
    }
}

TEST_F(SerialLink, BytesArriveInOrderAndWritesReachTheReceiver) {
    ASSERT_NE(COM_Open(pty_.slave_path().c_str(), "115200"), 0);
    pty_.write("$GPRMC,1*00\r\n");
    std::string got;
    std::uint8_t byte = 0;
    while (got.size() < 13 && zorvik::port_read_byte(byte) == 1)
        got.push_back(static_cast<char>(byte));
    EXPECT_EQ(got, "$GPRMC,1*00\r\n");

    const std::string cmd = "$PKVX04*xx\r\n";
    EXPECT_NE(zorvik::port_write(cmd.data(), cmd.size()), 0);
    EXPECT_EQ(as_text(pty_.read_exact(cmd.size())), cmd);
}

TEST_F(SerialLink, PortHeldByAnotherOpenerCannotBeOpened) {
    const auto other = zorvik::serial::open_exclusive(pty_.slave_path());
    ASSERT_NE(other.handle, zorvik::serial::kInvalidHandle);
    EXPECT_EQ(COM_Open(pty_.slave_path().c_str(), "9600"), 0);
    EXPECT_EQ(GetComPort_connected_Status(), 0);
    EXPECT_EQ(zorvik::port_write("x", 1), 0);
    zorvik::serial::close_port(other);

    // Released: it opens now, and while we hold it nobody else can.
    ASSERT_NE(COM_Open(pty_.slave_path().c_str(), "9600"), 0);
    EXPECT_EQ(zorvik::serial::open_exclusive(pty_.slave_path()).handle,
              zorvik::serial::kInvalidHandle);
}

TEST_F(SerialLink, BacklogAboveThresholdIsDiscardedAtOpenSmallerOneKept) {
    constexpr std::size_t kLimit = zorvik::serial::kDriverQueueLimit;
    for (std::size_t backlog : {std::size_t{100}, kLimit, kLimit + 1, std::size_t{2000}}) {
        SCOPED_TRACE(backlog);
        pty_.write(std::string(backlog, 'q'));
        // Let the pty move the bytes to the slave's input queue.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int handle = COM_Open(pty_.slave_path().c_str(), "9600");
        ASSERT_NE(handle, 0);
        const std::size_t waiting = zorvik::serial::queued_input(handle);
        EXPECT_EQ(waiting, backlog > kLimit ? 0u : backlog);
        COM_Close();
        // Empty the queue for the next round.
        const int fd = ::open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ::tcflush(fd, TCIFLUSH);
        ::close(fd);
    }
}

TEST_F(SerialLink, CloseKeepsTheLineSettingsAndPutsBackOnlyTheReadTimeOuts) {
    set_cooked(pty_.slave_path(), B19200);
    const termios before = settings_of(pty_.slave_path());
    ASSERT_NE(COM_Open(pty_.slave_path().c_str(), "115200"), 0);
    const termios open = settings_of(pty_.slave_path());
    COM_Close();
    EXPECT_EQ(GetComPort_connected_Status(), 0);
    const termios after = settings_of(pty_.slave_path());
    // A command written just before a close must go out at its own rate.
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B115200));
    EXPECT_EQ(after.c_cflag, open.c_cflag);
    EXPECT_EQ(after.c_lflag, open.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

TEST_F(SerialLink, CloseWithoutPortIsHarmlessAndNothingWorksAfterwards) {
    COM_Close();
    COM_Close();
    EXPECT_EQ(GetComPort_connected_Status(), 0);
    EXPECT_EQ(zorvik::port_write("x", 1), 0);
    std::uint8_t byte = 0;
    EXPECT_EQ(zorvik::port_read_byte(byte), 0);
}

TEST_F(SerialLink, WritesAfterCloseNeverReachTheDescriptorsNextOwner) {
    const int handle = COM_Open(pty_.slave_path().c_str(), "9600");
    ASSERT_NE(handle, 0);
    COM_Close();

    // The system hands the freed numbers (the handle's and the writer's) to
    // the next opens at once.
    TempDir dir;
    const int fd = ::open((dir / "victim").c_str(), O_RDWR | O_CREAT, 0600);
    const int next = ::open((dir / "next").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_GE(next, 0);
    EXPECT_EQ(fd, handle);
    EXPECT_EQ(zorvik::port_write("$PKVX01*00\r\n", 12), 0);
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), 0);
    EXPECT_EQ(::lseek(next, 0, SEEK_END), 0);
    ::close(fd);
    ::close(next);
}

TEST_F(SerialLink, OpeningAgainWhileOpenReleasesThePreviousPort) {
    PtyPair second;
    const int first = COM_Open(pty_.slave_path().c_str(), "9600");
    ASSERT_NE(first, 0);
    ASSERT_NE(COM_Open(second.slave_path().c_str(), "9600"), 0);
    // The first port is free again and the writes go to the second.
    const auto probe = zorvik::serial::open_exclusive(pty_.slave_path());
    EXPECT_NE(probe.handle, zorvik::serial::kInvalidHandle);
    zorvik::serial::close_port(probe);
    EXPECT_NE(zorvik::port_write("z", 1), 0);
    EXPECT_EQ(as_text(second.read_exact(1)), "z");
    EXPECT_TRUE(pty_.read_burst(100, 10).empty());
}

TEST_F(SerialLink, RefusesMissingNamesAndThingsThatAreNotTerminals) {
    TempDir dir;
    const std::string file = dir / "plain";
    {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0600);
        ::close(fd);
    }
    const char* names[] = {"", "/nonexistent/ttyX", file.c_str(), "/dev/null", "ttyZorvikNone"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(COM_Open(name, "9600"), 0);
        EXPECT_EQ(GetComPort_connected_Status(), 0);
    }
    EXPECT_EQ(COM_Open(nullptr, "9600"), 0);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    // A null baud text is a malformed one: the port opens at its old speed.
    EXPECT_NE(COM_Open(pty_.slave_path().c_str(), nullptr), 0);
}

TEST_F(SerialLink, ByteReaderServesOneReadAndPurgesOnlyOnReceivePurge) {
    const int handle = COM_Open(pty_.slave_path().c_str(), "115200");
    ASSERT_NE(handle, 0);
    pty_.write("hello");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    zorvik::serial::ByteReader reader;
    std::uint8_t byte = 0;
    ASSERT_EQ(reader.read_byte(handle, byte), 1);
    EXPECT_EQ(byte, 'h');
    EXPECT_EQ(zorvik::serial::queued_input(handle), 0u);  // one read took it all
    EXPECT_EQ(reader.waiting(handle), 4u);

    reader.purge(handle, zorvik::serial::kPurgeTxClear);
    EXPECT_EQ(reader.waiting(handle), 4u);
    ASSERT_EQ(reader.read_byte(handle, byte), 1);
    EXPECT_EQ(byte, 'e');

    reader.purge(handle, zorvik::serial::kPurgeRxAbort);
    EXPECT_EQ(reader.waiting(handle), 0u);
    EXPECT_EQ(reader.read_byte(handle, byte), 0);

    // Bytes buffered from one handle are not handed out for another.
    pty_.write("ab");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(reader.read_byte(handle, byte), 1);
    EXPECT_EQ(reader.waiting(zorvik::serial::kInvalidHandle), 0u);
    EXPECT_EQ(reader.read_byte(zorvik::serial::kInvalidHandle, byte), -1);
}

// A pty of our own without a keep-alive, so that its master can vanish.
struct VanishingPty {
    VanishingPty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        slave = ::ptsname(master);
    }
    ~VanishingPty() { vanish(); }
    void vanish() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    int master = -1;
    std::string slave;
};

// The device goes away under each kind of user of the port: the library
// notices within a second and closes the port, whoever finds it.
TEST_F(SerialLink, VanishedDeviceClosesThePortWhoeverFindsIt) {
    const struct {
        const char* finder;
        std::function<void()> touch;
    } cases[] = {
        {"status poll", [] {}},
        {"command write", [] { (void)zorvik::port_write("$PKVX*00\r\n", 10); }},
        {"library read",
         [] {
             std::uint8_t byte;
             (void)zorvik::port_read_byte(byte);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.finder);
        VanishingPty pty;
        const int handle = COM_Open(pty.slave.c_str(), "38400");
        ASSERT_NE(handle, 0);
        pty.vanish();

        const auto start = Clock::now();
        while (GetComPort_connected_Status() != 0 && ms_since(start) < 1000) {
            c.touch();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(GetComPort_connected_Status(), 0);
        EXPECT_LT(ms_since(start), 1000);
        EXPECT_EQ(zorvik::port_write("x", 1), 0);

        // A reader still holding the old value fails at once (no loop spins on
        // "nothing arrived") and never meets a file opened since.
        TempDir dir;
        const int newcomer = ::open((dir / "f").c_str(), O_RDWR | O_CREAT, 0600);
        EXPECT_NE(newcomer, handle);
        ::close(newcomer);
        zorvik::serial::ByteReader reader;
        std::uint8_t byte = 0;
        EXPECT_EQ(reader.read_byte(handle, byte), -1);

        // Connect works again once a device is back.
        PtyPair back;
        ASSERT_NE(COM_Open(back.slave_path().c_str(), "38400"), 0);
        EXPECT_NE(zorvik::port_write("ok", 2), 0);
        EXPECT_EQ(as_text(back.read_exact(2)), "ok");
        COM_Close();
    }
}

std::size_t open_descriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// The port holds a descriptor for reads and one for writes: every way the
// port ends gives both back.
TEST_F(SerialLink, EveryWayThePortEndsLeavesNoDescriptorBehind) {
    const std::string path = pty_.slave_path();
    const struct {
        const char* how;
        std::function<void()> run;
    } cases[] = {
        {"close, then open",
         [&] {
             ASSERT_NE(COM_Open(path.c_str(), "9600"), 0);
             COM_Close();
             ASSERT_NE(COM_Open(path.c_str(), "9600"), 0);
         }},
        {"open over an open port",
         [&] {
             ASSERT_NE(COM_Open(path.c_str(), "9600"), 0);
             ASSERT_NE(COM_Open(path.c_str(), "9600"), 0);
         }},
        {"device gone, then open",
         [&] {
             VanishingPty gone;
             ASSERT_NE(COM_Open(gone.slave.c_str(), "9600"), 0);
             gone.vanish();
             const auto start = Clock::now();
             while (GetComPort_connected_Status() != 0 && ms_since(start) < 1000)
                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
             ASSERT_EQ(GetComPort_connected_Status(), 0);
             ASSERT_NE(COM_Open(path.c_str(), "9600"), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        const std::size_t before = open_descriptors();
        c.run();
        COM_Close();
        EXPECT_EQ(open_descriptors(), before);
    }
}

// A peer that takes nothing: the write that can no longer go out fails
// within the time its bytes need plus a second, and a close waiting behind
// it returns within that bound too.
TEST_F(SerialLink, WriteToAPeerThatStopsReadingFailsWithinItsBound) {
    const int handle = COM_Open(pty_.slave_path().c_str(), "115200");
    ASSERT_NE(handle, 0);
    const std::string chunk(4096, 'w');
    const long bound_ms = zorvik::serial::write_bound_ms(handle, chunk.size());
    EXPECT_GE(bound_ms, 1000 + 355);
    EXPECT_LE(bound_ms, 1000 + 356);

    long failed_after_ms = -1;
    for (int i = 0; i < 1000 && failed_after_ms < 0; ++i) {
        const auto start = Clock::now();
        if (zorvik::port_write(chunk.data(), chunk.size()) == 0) failed_after_ms = ms_since(start);
    }
    EXPECT_GE(failed_after_ms, 900);
    EXPECT_LE(failed_after_ms, bound_ms + 1000);  // slack for a loaded machine

    // The failed write dropped what was stuck; fill the queue again from
    // another thread and close behind the blocked writer.
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i)
            if (zorvik::port_write(chunk.data(), chunk.size()) == 0) break;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto close_start = Clock::now();
    COM_Close();
    const long close_ms = ms_since(close_start);
    writer.join();
    EXPECT_LE(close_ms, bound_ms + 1000);
    EXPECT_EQ(GetComPort_connected_Status(), 0);
}

TEST_F(SerialLink, ConcurrentWritersPollersAndReopenStayConsistent) {
    ASSERT_NE(COM_Open(pty_.slave_path().c_str(), "115200"), 0);
    std::atomic<bool> stop{false};
    std::thread poller([&] {
        while (!stop.load()) (void)GetComPort_connected_Status();
    });

    constexpr int kWriters = 4, kLines = 50;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([w] {
            for (int i = 0; i < kLines; ++i) {
                const std::string line = "$PKVX" + std::to_string(w) + "," +
                                         std::string(40, static_cast<char>('a' + w)) + "*00\r\n";
                EXPECT_NE(zorvik::port_write(line.data(), line.size()), 0);
            }
        });
    }
    std::string received;
    while (received.size() < static_cast<std::size_t>(kWriters * kLines * 50)) {
        const auto chunk = pty_.read_burst(2000, 200);
        if (chunk.empty()) break;
        received += as_text(chunk);
    }
    for (auto& t : writers) t.join();

    // Every sentence arrives whole: writers never interleave.
    std::set<std::string> expected;
    for (int w = 0; w < kWriters; ++w)
        expected.insert("$PKVX" + std::to_string(w) + "," +
                        std::string(40, static_cast<char>('a' + w)) + "*00");
    std::size_t lines = 0, start = 0;
    for (std::size_t end; (end = received.find("\r\n", start)) != std::string::npos;
         start = end + 2, ++lines)
        EXPECT_EQ(expected.count(received.substr(start, end - start)), 1u);
    EXPECT_EQ(lines, static_cast<std::size_t>(kWriters * kLines));

    // Close and reopen under a writer and a reader: every call ends cleanly.
    std::thread drainer([&] {
        while (!stop.load()) pty_.read_burst(20, 5);
    });
    std::thread writer([&] {
        while (!stop.load()) (void)zorvik::port_write("x", 1);
    });
    std::thread reader([&] {
        std::uint8_t byte;
        while (!stop.load()) (void)zorvik::port_read_byte(byte);
    });
    for (int i = 0; i < 10; ++i) {
        COM_Close();
        EXPECT_NE(COM_Open(pty_.slave_path().c_str(), "115200"), 0);
    }
    stop.store(true);
    writer.join();
    drainer.join();
    reader.join();
    poller.join();
}

}  // namespace
