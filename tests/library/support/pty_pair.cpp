#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace zorvik::test {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    slave_path_ = ptsname(master_);
    // Holding the slave open keeps the master readable while the library
    // closes and reopens its side; the test never reads through it.
    slave_keepalive_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (slave_keepalive_ >= 0 && tcgetattr(slave_keepalive_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave_keepalive_, TCSANOW, &t);
    }
}

PtyPair::~PtyPair() {
    if (slave_keepalive_ >= 0) ::close(slave_keepalive_);
    if (master_ >= 0) ::close(master_);
}

void PtyPair::write(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        ssize_t w = ::write(master_, p, n);
        if (w < 0) throw std::runtime_error("write to pseudo-terminal master failed");
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

static bool wait_readable(int fd, int timeout_ms) {
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, timeout_ms) > 0 && (pfd.revents & POLLIN);
}

std::vector<std::uint8_t> PtyPair::read_burst(int timeout_ms, int quiet_ms) {
    std::vector<std::uint8_t> out;
    int wait = timeout_ms;
    std::uint8_t buf[4096];
    while (wait_readable(master_, wait)) {
        ssize_t r = ::read(master_, buf, sizeof buf);
        if (r <= 0) break;
        out.insert(out.end(), buf, buf + r);
        wait = quiet_ms;
    }
    return out;
}

std::vector<std::uint8_t> PtyPair::read_exact(std::size_t n, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    std::vector<std::uint8_t> out;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint8_t buf[4096];
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0 || !wait_readable(master_, static_cast<int>(left.count()))) break;
        ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0) break;
        out.insert(out.end(), buf, buf + r);
    }
    return out;
}

void PtyPair::drain() {
    read_burst(0, 0);
}

}  // namespace zorvik::test
