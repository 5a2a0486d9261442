#include "port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "port_registry.h"

namespace sim {

namespace {

struct SpeedEntry {
    int baud;
    speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B921600
    {460800, B460800}, {921600, B921600},
#endif
};

bool configure_raw(int fd, int baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t s = speed_constant(baud);
    if (s != 0) {
        cfsetispeed(&t, s);
        cfsetospeed(&t, s);
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

unsigned speed_constant(int baud) {
    for (const auto& e : kSpeeds)
        if (e.baud == baud) return e.speed;
    return 0;
}

int baud_of_speed(unsigned speed) {
    for (const auto& e : kSpeeds)
        if (e.speed == speed) return e.baud;
    return 0;
}

Port Port::create_pty(int baud, std::string& error) {
    Port p;
    p.own_rate_ = baud;
    p.fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.fd_ < 0 || grantpt(p.fd_) != 0 || unlockpt(p.fd_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        p.close_all();
        return p;
    }
    const char* name = ptsname(p.fd_);
    if (!name) {
        error = "ptsname failed";
        p.close_all();
        return p;
    }
    p.device_ = name;
    p.slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p.slave_fd_ < 0) {
        error = "cannot open " + p.device_ + ": " + std::strerror(errno);
        p.close_all();
        return p;
    }
    // The slave starts raw at our rate, as a UART would be; without this the
    // line discipline would echo our own output back to us.
    configure_raw(p.slave_fd_, baud);
    fcntl(p.fd_, F_SETFL, fcntl(p.fd_, F_GETFL) | O_NONBLOCK);
    fcntl(p.fd_, F_SETFD, FD_CLOEXEC);
    fcntl(p.slave_fd_, F_SETFD, FD_CLOEXEC);
    return p;
}

Port Port::open_tty(const std::string& path, int baud, std::string& error) {
    Port p;
    p.own_rate_ = baud;
    p.fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return p;
    }
    if (!configure_raw(p.fd_, baud)) {
        error = "cannot configure " + path + ": " + std::strerror(errno);
        p.close_all();
        return p;
    }
    p.device_ = path;
    return p;
}

Port::Port(Port&& other) noexcept {
    *this = std::move(other);
}

Port& Port::operator=(Port&& other) noexcept {
    if (this != &other) {
        close_all();
        fd_ = std::exchange(other.fd_, -1);
        slave_fd_ = std::exchange(other.slave_fd_, -1);
        own_rate_ = other.own_rate_;
        device_ = std::move(other.device_);
    }
    return *this;
}

Port::~Port() {
    close_all();
}

void Port::close_all() {
    if (slave_fd_ >= 0) close(slave_fd_);
    if (fd_ >= 0) close(fd_);
    slave_fd_ = fd_ = -1;
}

int Port::peer_rate() const {
    if (slave_fd_ < 0) return own_rate_;
    termios t{};
    if (tcgetattr(slave_fd_, &t) != 0) return 0;
    return baud_of_speed(cfgetospeed(&t));
}

void Port::set_own_rate(int baud) {
    own_rate_ = baud;
    if (slave_fd_ < 0 && fd_ >= 0) configure_raw(fd_, baud);
}

std::size_t Port::write_some(const std::uint8_t* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd_, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        break;  // EAGAIN: the other side's queue is full
    }
    return done;
}

long Port::read_some(std::uint8_t* data, std::size_t n) {
    for (;;) {
        const ssize_t r = ::read(fd_, data, n);
        if (r >= 0) return static_cast<long>(r);
        if (errno == EINTR) continue;
        // EIO on a pty master while no slave is open cannot happen here (we hold
        // one); on a real tty it means the device went away.
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

bool Registration::create(const std::string& dir, const std::string& name,
                          const std::string& device, std::string& error) {
    if (!zorvik::serial::valid_port_name(name)) {
        error = "invalid port name '" + name + "'";
        return false;
    }
    if (!zorvik::serial::prepare_registry_dir(dir, error)) return false;
    if (!take_name(dir, name, error)) return false;
    // The name is ours: a link left by a simulator that was killed is
    // replaced atomically, a new link under a temporary name renamed over it.
    const std::string link = dir + "/" + name;
    const std::string tmp = link + ".tmp" + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (symlink(device.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
        error = "cannot register " + link + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        release_name();
        return false;
    }
    link_ = link;
    device_ = device;
    return true;
}

bool Registration::take_name(const std::string& dir, const std::string& name, std::string& error) {
    // A lock on a hidden file per name, held for the simulator's life; the
    // system lets go of it however the simulator ends.
    const std::string lock_path = dir + "/." + name + ".lock";
    lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock_fd_ < 0) {
        error = "cannot open " + lock_path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        char holder[32] = {};
        const ssize_t n = ::pread(lock_fd_, holder, sizeof holder - 1, 0);
        error = "port name " + name + " is held by a running simulator";
        if (n > 0) error += " (pid " + std::string(holder, static_cast<std::size_t>(n)) + ")";
        error += "; choose another name with --port-name";
        release_name();
        return false;
    }
    const std::string pid = std::to_string(getpid());
    if (::ftruncate(lock_fd_, 0) != 0 ||
        ::pwrite(lock_fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The pid only makes the refusal message clearer; the lock is what counts.
    }
    return true;
}

void Registration::release_name() {
    if (lock_fd_ >= 0) ::close(lock_fd_);
    lock_fd_ = -1;
}

void Registration::remove() {
    if (!link_.empty()) {
        // Only our own link: nobody else can hold the name while we hold its lock.
        char target[4096];
        const ssize_t len = readlink(link_.c_str(), target, sizeof target - 1);
        if (len > 0) {
            target[len] = '\0';
            if (device_ == target) ::unlink(link_.c_str());
        }
        link_.clear();
    }
    release_name();
}

std::uint8_t garble(std::uint8_t b) {
    // A byte sampled at the wrong rate comes out as some other byte; keep the
    // result away from '$' and LF so that it never frames a sentence.
    std::uint8_t g = static_cast<std::uint8_t>((b * 37u + 0x9Bu) ^ 0x5Au);
    if (g == '$' || g == '\n') g = static_cast<std::uint8_t>(g | 0x80);
    return g;
}

void PacedWriter::queue(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    pending_.insert(pending_.end(), p, p + n);
}

double PacedWriter::pump(Port& port, double now, int rate, bool rate_matches) {
    if (pending_.empty()) {
        next_ = now;
        return 1.0;
    }
    if (now < next_) return next_ - now;
    if (rate <= 0) rate = 9600;
    const double byte_time = 10.0 / rate;
    // Bytes due since the last chunk, at least one; about 10 ms worth per chunk.
    std::size_t chunk = std::max<std::size_t>(1, static_cast<std::size_t>(rate / 1000));
    chunk = std::min(chunk, pending_.size());
    std::uint8_t buf[512];
    chunk = std::min(chunk, sizeof buf);
    for (std::size_t i = 0; i < chunk; ++i) {
        buf[i] = rate_matches ? pending_[i] : garble(pending_[i]);
    }
    const std::size_t taken = port.write_some(buf, chunk);
    lost_ += chunk - taken;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(chunk));
    next_ = std::max(next_, now - byte_time * static_cast<double>(chunk)) +
            byte_time * static_cast<double>(chunk);
    return next_ > now ? next_ - now : 0.0;
}

}  // namespace sim
