// Xmodem_1K against an independent receiver: Debian's python3-xmodem in
// checksum mode on the master side of a pseudo-terminal, started by its own NAK.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "pty_pair.h"
#include "temp_dir.h"

extern char** environ;

namespace {

using zorvik::test::PtyPair;
using zorvik::test::TempDir;
using Bytes = std::vector<std::uint8_t>;

Bytes read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The receiver script as a child process that inherits the pty's master side.
class Receiver {
  public:
    Receiver(int line_fd, const std::string& output, const std::string& log) {
        // The master descriptor must survive the exec.
        const int flags = ::fcntl(line_fd, F_GETFD);
        ::fcntl(line_fd, F_SETFD, flags & ~FD_CLOEXEC);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        const std::string fd_text = std::to_string(line_fd);
        std::vector<std::string> args = {ZORVIK_SYSTEM_PYTHON,
                                         ZORVIK_XMODEM_RECEIVE_SCRIPT,
                                         "--fd",
                                         fd_text,
                                         "--timeout",
                                         "10",
                                         output};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        spawned_ =
            posix_spawn(&pid_, ZORVIK_SYSTEM_PYTHON, &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Receiver() {
        if (spawned_ && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    bool spawned() const { return spawned_; }
    // The exit status, or -1 when the script did not end normally.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    bool spawned_ = false;
    bool waited_ = false;
};

class XmodemReceiverTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(XmodemReceiverTest, ReceivedFileEqualsTheSentOneApartFromPadding) {
    const std::size_t size = GetParam();
    TempDir dir;
    Bytes data(size);
    std::uint32_t x = static_cast<std::uint32_t>(size) | 1u;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    const std::string sent = dir / "sent.bin";
    std::ofstream(sent, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));

    PtyPair pty;
    ASSERT_NE(COM_Open(pty.slave_path().c_str(), "115200"), 0);
    Receiver receiver(pty.master(), dir / "received.bin", dir / "receiver.log");
    ASSERT_TRUE(receiver.spawned());

    // The receiver asks for the data with NAK (Python takes a moment to start).
    bool nak = false;
    for (int i = 0; i < 15 && !nak; ++i) nak = PollingXmodem_NAK() == 1;
    ASSERT_TRUE(nak) << "no NAK from the receiver";

    EXPECT_EQ(Xmodem_1K(sent.c_str()), ZORVIK_XMODEM_OK);
    EXPECT_EQ(receiver.wait(), 0);
    COM_Close();

    const Bytes got = read_all(dir / "received.bin");
    const std::size_t padded = (size + 1023) / 1024 * 1024;
    ASSERT_EQ(got.size(), padded);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin()));
    for (std::size_t i = size; i < padded; ++i) ASSERT_EQ(got[i], 0x1A) << "padding byte " << i;
    const Bytes log = read_all(dir / "receiver.log");
    EXPECT_EQ(std::string(log.begin(), log.end()), std::to_string(padded) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, XmodemReceiverTest,
                         ::testing::Values(1, 1023, 1024, 1500, 2048, 16384, 300 * 1024 + 7));

}  // namespace
