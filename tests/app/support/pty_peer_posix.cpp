// The receiver's side of the program's port on Linux: a pseudo-terminal pair.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "shell_support.h"

namespace zorvik::apptest {

PtyPeer::PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    const char* name = ::ptsname(master_);
    if (!name) throw std::runtime_error("ptsname failed");
    slave_path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) throw std::runtime_error("cannot open the pseudo-terminal's slave");
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

void PtyPeer::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to the pseudo-terminal failed");
        } else {
            QThread::msleep(1);
        }
    }
}

std::string PtyPeer::read_burst(int timeout_ms, int quiet_ms) {
    std::string out;
    int wait = timeout_ms;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        // Keep the program's events flowing while waiting.
        const auto start = std::chrono::steady_clock::now();
        int ready = 0;
        while (true) {
            ready = ::poll(&p, 1, 10);
            if (ready != 0) break;
            QCoreApplication::processEvents();
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(wait)) break;
        }
        if (ready <= 0) break;
        char buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        wait = quiet_ms;
    }
    return out;
}

void PtyPeer::drain() {
    read_burst(30, 30);
}

long PtyPeer::baud() const {
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) return -1;
    switch (::cfgetispeed(&tio)) {
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

}  // namespace zorvik::apptest
