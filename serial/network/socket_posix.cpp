// The network backend's platform part on POSIX: sockets, and a pseudo-
// terminal whose far end is the port's handle, so that it reads with read()
// exactly as a serial port does.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "bounded_resolve.h"
#include "device_backend.h"
#include "socket_io.h"

namespace zorvik::serial::net {

namespace {

constexpr int kConnectBoundMs = 5000;
// A peer that vanishes without closing (a pulled cable) is found by the
// keep-alive probes within about these seconds.
constexpr int kKeepAliveIdleS = 5;
constexpr int kKeepAliveIntervalS = 1;
constexpr int kKeepAliveProbes = 3;

void keep_alive(int fd) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof kKeepAliveIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS, sizeof kKeepAliveIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
    // Commands are short: each goes out at once.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

OpenFailure failure_for(int error) {
    return error == ECONNREFUSED ? OpenFailure::Refused : OpenFailure::Unreachable;
}

// 0 when connected, else the errno that stopped it (ETIMEDOUT past the bound).
int connect_one(int fd, const addrinfo& a) {
    if (::connect(fd, a.ai_addr, a.ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    pollfd pfd{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, kConnectBoundMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return ETIMEDOUT;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
}

int fd_of(Handle h) {
    return static_cast<int>(h);
}

// Keeps a descriptor away from 0, which the program takes for a failed open.
int off_zero(int fd) {
    if (fd != 0) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    return moved;
}

bool make_raw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 1;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

long io_result(ssize_t n) {
    if (n >= 0) return static_cast<long>(n);
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

}  // namespace

Socket connect_stream(const std::string& host, std::uint16_t port, OpenFailure& failure) {
    const auto resolved = resolve(host, port);
    if (!resolved) {
        failure = OpenFailure::Unreachable;
        return kNoSocket;
    }
    if (resolved->result != 0 || resolved->list == nullptr) {
        failure = resolved->result == EAI_SYSTEM || resolved->result == EAI_MEMORY
                      ? OpenFailure::Other
                      : OpenFailure::UnknownHost;
        return kNoSocket;
    }
    int last_error = ETIMEDOUT;
    for (const addrinfo* a = resolved->list; a != nullptr; a = a->ai_next) {
        const int fd =
            off_zero(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd < 0) {
            last_error = errno;
            continue;
        }
        last_error = connect_one(fd, *a);
        if (last_error == 0) {
            keep_alive(fd);
            failure = OpenFailure::None;
            return fd;
        }
        ::close(fd);
    }
    failure = failure_for(last_error);
    return kNoSocket;
}

long send_some(Socket s, const std::uint8_t* data, std::size_t n) {
    return io_result(::send(static_cast<int>(s), data, n, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long receive_some(Socket s, std::uint8_t* data, std::size_t n) {
    const ssize_t got = ::recv(static_cast<int>(s), data, n, MSG_DONTWAIT);
    if (got == 0) return -1;  // the server closed the connection
    return io_result(got);
}

namespace {

// A device server tears its session down, and frees the device for the next
// one, once it has seen our end: the close waits that long for the server's
// own end, so that a reopen (a rate change, a flash) or the next run does not
// find the device still taken.
constexpr std::chrono::milliseconds kServerEndBound{1000};

void wait_for_server_end(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kServerEndBound;
    std::uint8_t unread[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
        const ssize_t got = ::recv(fd, unread, sizeof unread, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
}

}  // namespace

void close_socket(Socket s) {
    if (s == kNoSocket) return;
    const int fd = static_cast<int>(s);
    if (::shutdown(fd, SHUT_WR) == 0) wait_for_server_end(fd);
    ::close(fd);
}

bool ended_at_once(Socket s, int wait_ms) {
    const int fd = static_cast<int>(s);
    // POLLRDHUP tells of the server's end even behind a parting line it
    // sent ("device already in use"), which stays unread.
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, wait_ms) == 1 && (p.revents & (POLLRDHUP | POLLHUP)) != 0;
}

bool open_local_end(LocalEnd& out) {
    const int master = off_zero(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (master < 0) return false;
    char name[128];
    int handle = -1;
    int writer = -1;
    if (::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
        ::ptsname_r(master, name, sizeof name) == 0) {
        handle = off_zero(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        writer = off_zero(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    }
    if (handle < 0 || writer < 0 || !make_raw(handle)) {
        if (handle >= 0) ::close(handle);
        if (writer >= 0) ::close(writer);
        ::close(master);
        return false;
    }
    out.port = Port{handle, writer};
    out.relay = out.relay_writer = master;
    return true;
}

long relay_read(const LocalEnd& end, std::uint8_t* data, std::size_t n) {
    const ssize_t got = ::read(fd_of(end.relay), data, n);
    if (got < 0 && errno == EIO) return -1;  // no open slave left
    return io_result(got);
}

long relay_write(const LocalEnd& end, const std::uint8_t* data, std::size_t n) {
    return io_result(::write(fd_of(end.relay_writer), data, n));
}

void close_relay(LocalEnd& end) {
    if (end.relay != kInvalidHandle) ::close(fd_of(end.relay));
    end.relay = end.relay_writer = kInvalidHandle;
}

void close_local_end(const Port& port) {
    close_device(port);
}

// The program's end is a pseudo-terminal: the local device's calls serve it.
long local_read(Handle h, void* buf, std::size_t n) {
    return read_some_device(h, buf, n);
}

// The relay polls the pseudo-terminal: it needs no wake.
bool local_write(Handle writer, const void* data, std::size_t n, long, const Wake&) {
    return write_all_device(writer, data, n);
}

std::size_t local_queued(Handle h) {
    return queued_input_device(h);
}

void local_purge(Handle h, unsigned flags) {
    purge_device(h, flags);
}

void local_drain(Handle h, long) {
    drain_device(h);
}

bool local_gone(Handle h) {
    return is_device_gone(h);
}

void local_release(Port& port) {
    release_device_handles(port);
}

bool local_save(Handle h, SavedSettings& out) {
    return save_settings_device(h, out);
}

void local_restore(Handle h, const SavedSettings& saved) {
    restore_settings_device(h, saved);
}

// The pseudo-terminal carries the rate too: its write bounds are reckoned from it.
void local_configure(Handle h, const std::string& mode) {
    configure_device(h, mode);
}

long local_write_bound(Handle h, std::size_t n, std::uint32_t) {
    return write_bound_ms_device(h, n);
}

bool open_wake(Wake& out) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    out.read_end = off_zero(ends[0]);
    out.write_end = off_zero(ends[1]);
    return out.read_end >= 0 && out.write_end >= 0;
}

void signal_wake(const Wake& w) {
    const char one = 1;
    if (w.write_end != kInvalidHandle) (void)!::write(fd_of(w.write_end), &one, 1);
}

void close_wake(Wake& w) {
    if (w.read_end != kInvalidHandle) ::close(fd_of(w.read_end));
    if (w.write_end != kInvalidHandle) ::close(fd_of(w.write_end));
    w = {};
}

Ready wait_ready(Socket s, const LocalEnd& end, const Wanted& wanted, const Wake& w,
                 int timeout_ms) {
    const auto events = [](bool in, bool out) {
        return static_cast<short>((in ? POLLIN : 0) | (out ? POLLOUT : 0));
    };
    pollfd fds[3] = {
        {static_cast<int>(s), events(true, wanted.socket_out), 0},
        {fd_of(end.relay), events(wanted.relay_in, wanted.relay_out), 0},
        {fd_of(w.read_end), POLLIN, 0},
    };
    // poll skips a negative descriptor: a closed relay end is left out, so
    // that its hang-up does not end every wait at once.
    Ready ready;
    if (::poll(fds, 3, timeout_ms) <= 0) return ready;
    ready.socket_in = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    ready.relay_in = (fds[1].revents & POLLIN) != 0;
    ready.relay_out = (fds[1].revents & POLLOUT) != 0;
    ready.relay_gone = (fds[1].revents & (POLLHUP | POLLERR)) != 0 && !ready.relay_in;
    char drain[64];
    while (::read(fd_of(w.read_end), drain, sizeof drain) > 0) {
    }
    return ready;
}

}  // namespace zorvik::serial::net
