// The serial layer over termios: device paths, exclusive opens, raw 8N1 with
// a 100 ms read time-out on a blocking descriptor, bounded writes through a
// second, non-blocking one, and the port list from sysfs and the registry of
// virtual ports.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "device_backend.h"
#include "port_registry.h"
#include "serial_port.h"

namespace zorvik::serial {

namespace {

constexpr int kReadTimeoutMs = 100;

// A write may take the time its bytes need on the line plus this.
constexpr long kWriteSlackMs = 1000;
constexpr unsigned long kBitsPerByte = 10;  // start, 8 data, stop
constexpr unsigned long kSlowestBaud = 300;
constexpr unsigned long long kMaxBoundMs = 3600 * 1000;  // keeps the sum in range
constexpr std::size_t kUartFifoBytes = 16;
constexpr int kDrainPollMs = 5;

long deadline_left_ms(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max<long>(0, static_cast<long>(left.count()));
}

int fd_of(Handle h) {
    return static_cast<int>(h);
}

bool valid(Handle h) {
    return h >= 0 && h <= 0x7fffffff;
}

// errno says why an open failed; the clean-up after it must not change it.
void close_keeping_errno(int fd) {
    const int reason = errno;
    ::close(fd);
    errno = reason;
}

// The second open of the device that reader holds, for the writes. A name may
// be re-pointed between two opens (a registered port whose owner restarted):
// the writer must reach the very device the reader reads.
int open_writer(const std::string& path, int reader) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat read_side {};
    struct stat write_side {};
    if (::fstat(reader, &read_side) != 0 || ::fstat(fd, &write_side) != 0 ||
        read_side.st_rdev != write_side.st_rdev) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

// A read through fd then waits up to the read time-out (VMIN 0 / VTIME 1)
// instead of returning at once with nothing.
bool make_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// "COM" followed by a number from 1 up, any letter case; the number or nothing.
std::optional<unsigned long> com_number(const std::string& name) {
    if (name.size() < 4 || name.size() > 12) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return std::nullopt;
    unsigned long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
        n = n * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    if (n == 0 || name[3] == '0') return std::nullopt;
    return n;
}

// Natural order: runs of digits compare by value, so COM2 comes before COM10
// and ttyS9 before ttyS10; other characters compare as bytes.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            std::size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0') ++is;  // leading zeros do not count
            while (js + 1 < je && b[js] == '0') ++js;
            const std::size_t la = ie - is, lb = je - js;
            if (la != lb) return la < lb;
            const int c = a.compare(is, la, b, js, lb);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

std::vector<std::string> directory_names(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(d);
    return names;
}

std::vector<std::string> virtual_ports() {
    const std::string dir = registry_dir();
    std::vector<std::string> ports;
    if (!registry_dir_trusted(dir)) return ports;
    for (auto& name : directory_names(dir))
        if (valid_port_name(name) && registered_port_live(dir, name))
            ports.push_back(std::move(name));
    return ports;
}

// A legacy 8250 port (ttyS*) exists for every possible UART; only those with
// a UART behind them count. sysfs gives the type; without it, ask the port.
bool uart_present(const std::string& name) {
    std::ifstream type_file("/sys/class/tty/" + name + "/type");
    long type = -1;
    if (type_file >> type) return type != PORT_UNKNOWN;
    const std::string path = "/dev/" + name;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

std::vector<std::string> hardware_ports() {
    std::vector<std::string> ports;
    const std::string base = "/sys/class/tty/";
    for (auto& name : directory_names(base)) {
        if (!valid_port_name(name)) continue;
        struct stat info {};
        if (::stat((base + name + "/device").c_str(), &info) != 0) continue;
        // Listed only when it can be opened by that name.
        if (::stat(("/dev/" + name).c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
        if (name.rfind("ttyS", 0) == 0 && !uart_present(name)) continue;
        ports.push_back(std::move(name));
    }
    return ports;
}

struct RateEntry {
    unsigned long baud;
    speed_t speed;
};
constexpr RateEntry kRates[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

speed_t speed_for(unsigned long baud) {
    for (const RateEntry& r : kRates)
        if (r.baud == baud) return r.speed;
    return B0;
}

// 0 for a speed not in the table.
unsigned long baud_for(speed_t speed) {
    for (const RateEntry& r : kRates)
        if (r.speed == speed) return r.baud;
    return 0;
}

// The time n bytes need on the line at the port's current output rate.
long line_time_ms(Handle h, std::size_t n) {
    termios t{};
    unsigned long baud = 0;
    if (valid(h) && ::tcgetattr(fd_of(h), &t) == 0) baud = baud_for(::cfgetospeed(&t));
    if (baud == 0) baud = kSlowestBaud;  // unknown rate: allow the most time
    const unsigned long long bytes = std::min<unsigned long long>(n, 1ULL << 32);
    const auto ms = bytes * kBitsPerByte * 1000 / baud;
    return static_cast<long>(std::min<unsigned long long>(ms, kMaxBoundMs));
}

// The fields of "<baud>,<parity>,<data>,<stop>".
std::vector<std::string> split_mode(const std::string& mode) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = mode.find(',', start);
        std::string part = mode.substr(start, comma == std::string::npos ? comma : comma - start);
        const auto not_space = [](char c) { return !std::isspace(static_cast<unsigned char>(c)); };
        part.erase(part.begin(), std::find_if(part.begin(), part.end(), not_space));
        part.erase(std::find_if(part.rbegin(), part.rend(), not_space).base(), part.end());
        parts.push_back(std::move(part));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

}  // namespace

std::string device_path(const std::string& port_name) {
    if (port_name.find('/') != std::string::npos) return port_name;
    if (port_name.empty()) return std::string();
    const std::string dir = registry_dir();
    if (registry_dir_trusted(dir) && registered_port_live(dir, port_name))
        return dir + "/" + port_name;
    if (auto n = com_number(port_name)) return "/dev/ttyS" + std::to_string(*n - 1);
    return "/dev/" + port_name;
}

Port open_exclusive(const std::string& port_name) {
    const std::string path = device_path(port_name);
    if (path.empty()) return {};
    // O_NONBLOCK so that the open does not wait for carrier on a modem line.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    // Commands must never be written into a plain file or a disk a user
    // typed by mistake: only terminal devices are serial ports.
    if (!::isatty(fd)) {
        close_keeping_errno(fd);
        return {};
    }
    // The handle value 0 means failure to the program; keep it away from 0.
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close_keeping_errno(fd);
        if (moved < 0) return {};
        fd = moved;
    }
    // TIOCEXCL keeps other users out but not root; the lock keeps out every
    // program that asks, root included, and another open of our own. The
    // lock belongs to this open only, so the writer's open below is not
    // refused by it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close_keeping_errno(fd);
        return {};
    }
    // The writer stays non-blocking: it waits in poll() for at most the
    // write's bound, so a peer that stops taking data can never hold a write
    // (and the port) for good. It is opened before TIOCEXCL, which refuses
    // any further open.
    const int writer = open_writer(path, fd);
    if (writer < 0 || !make_blocking(fd)) {
        if (writer >= 0) ::close(writer);
        close_keeping_errno(fd);
        return {};
    }
    ::ioctl(fd, TIOCEXCL);
    return {fd, writer};
}

void close_device(const Port& port) {
    if (valid(port.writer) && port.writer != port.handle) ::close(fd_of(port.writer));
    if (!valid(port.handle)) return;
    // The exclusive mode outlives our descriptor while another holds the
    // terminal open; give the port back as we found it.
    ::ioctl(fd_of(port.handle), TIOCNXCL);
    ::flock(fd_of(port.handle), LOCK_UN);
    ::close(fd_of(port.handle));
}

std::size_t queued_input_device(Handle h) {
    if (!valid(h)) return 0;
    int n = 0;
    if (::ioctl(fd_of(h), FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<std::size_t>(n);
}

void purge_device(Handle h, unsigned flags) {
    if (!valid(h)) return;
    const bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (rx && tx)
        ::tcflush(fd_of(h), TCIOFLUSH);
    else if (rx)
        ::tcflush(fd_of(h), TCIFLUSH);
    else if (tx)
        ::tcflush(fd_of(h), TCOFLUSH);
}

bool save_settings_device(Handle h, SavedSettings& out) {
    out.bytes.clear();
    termios t{};
    if (!valid(h) || ::tcgetattr(fd_of(h), &t) != 0) return false;
    out.bytes = {t.c_cc[VMIN], t.c_cc[VTIME]};
    return true;
}

void restore_settings_device(Handle h, const SavedSettings& saved) {
    if (!valid(h) || saved.bytes.size() != 2) return;
    termios t{};
    if (::tcgetattr(fd_of(h), &t) != 0) return;
    t.c_cc[VMIN] = saved.bytes[0];
    t.c_cc[VTIME] = saved.bytes[1];
    ::tcsetattr(fd_of(h), TCSANOW, &t);
}

long write_bound_ms_device(Handle h, std::size_t n) {
    return line_time_ms(h, n) + kWriteSlackMs;
}

void drain_device(Handle h) {
    if (!valid(h)) return;
    int queued = 0;
    if (::ioctl(fd_of(h), TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    // tcdrain() has no time limit; poll the queue instead.
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(write_bound_ms_device(h, static_cast<std::size_t>(queued)));
    while (std::chrono::steady_clock::now() < deadline) {
        if (::ioctl(fd_of(h), TIOCOUTQ, &queued) != 0 || queued <= 0) {
            // The queue is empty; the last bytes may still be in the UART's FIFO.
            std::this_thread::sleep_for(std::chrono::milliseconds(
                std::min(line_time_ms(h, kUartFifoBytes), deadline_left_ms(deadline))));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kDrainPollMs));
    }
}

bool is_device_gone(Handle h) {
    if (!valid(h)) return false;
    // poll() reports a hang-up and an error condition whatever is asked for.
    pollfd pfd{fd_of(h), 0, 0};
    if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) return true;
    // A driver whose device has gone refuses even a settings query.
    termios t{};
    if (::tcgetattr(fd_of(h), &t) == 0) return false;
    return errno == EIO || errno == ENXIO || errno == ENODEV;
}

void release_device_handles(Port& port) {
    // Nobody writes without the caller's lock: the writer can go at once.
    if (valid(port.writer) && port.writer != port.handle) ::close(fd_of(port.writer));
    port.writer = kInvalidHandle;
    const Handle h = port.handle;
    if (!valid(h)) return;
    // The stand-in is a pipe without a writer: a read on it reports a hang-up
    // (an error, not "nothing arrived", so no reader loop spins on it) and a
    // write fails.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    ::close(ends[1]);
    ::ioctl(fd_of(h), TIOCNXCL);
    // dup3 swaps the file behind the number in one step: the device is let
    // go, and the number is never free for another open in between.
    ::dup3(ends[0], fd_of(h), O_CLOEXEC);
    ::close(ends[0]);
}

bool baud_rate_supported(const std::string& baud_text) {
    const auto baud = parse_baud(baud_text);
    return baud && speed_for(*baud) != B0;
}

void configure_device(Handle h, const std::string& mode) {
    if (!valid(h)) return;
    termios t{};
    if (::tcgetattr(fd_of(h), &t) != 0) return;

    // Raw bytes both ways, no flow control of either kind.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 1;

    const std::vector<std::string> parts = split_mode(mode);
    if (auto baud = parse_baud(parts[0])) {
        const speed_t s = speed_for(*baud);
        if (s != B0) {
            ::cfsetispeed(&t, s);
            ::cfsetospeed(&t, s);
        }
    }
    const char parity =
        parts.size() > 1 && parts[1].size() == 1
            ? static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])))
            : 'N';
    if (parity == 'E') t.c_cflag |= PARENB;
    if (parity == 'O') t.c_cflag |= PARENB | PARODD;
    if (parity == 'E' || parity == 'O') t.c_iflag |= INPCK;
    const std::string data = parts.size() > 2 ? parts[2] : "8";
    t.c_cflag |= data == "7" ? CS7 : data == "6" ? CS6 : data == "5" ? CS5 : CS8;
    if (parts.size() > 3 && parts[3] == "2") t.c_cflag |= CSTOPB;

    ::tcsetattr(fd_of(h), TCSANOW, &t);
}

long read_some_device(Handle h, void* buf, std::size_t n) {
    if (!valid(h) || buf == nullptr) return -1;
    if (n == 0) return 0;
    // poll first: a hung-up device reads 0 at once forever, which VMIN 0
    // cannot tell from a time-out; poll reports it as an error instead.
    pollfd pfd{fd_of(h), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, kReadTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    if (pfd.revents & (POLLERR | POLLNVAL)) return -1;
    if ((pfd.revents & POLLIN) == 0) return (pfd.revents & POLLHUP) ? -1 : 0;
    ssize_t got;
    do {
        got = ::read(fd_of(h), buf, n);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    if (got == 0 && (pfd.revents & POLLHUP)) return -1;
    return static_cast<long>(got);
}

bool write_all_device(Handle writer, const void* data, std::size_t n) {
    if (!valid(writer)) return false;
    if (n == 0) return true;
    if (data == nullptr) return false;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(write_bound_ms_device(writer, n));
    const auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd_of(writer), p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
        const long left = deadline_left_ms(deadline);
        if (left <= 0) {
            // The peer takes nothing: drop what is stuck so that a close
            // need not wait for it too.
            ::tcflush(fd_of(writer), TCOFLUSH);
            return false;
        }
        pollfd pfd{fd_of(writer), POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

std::vector<std::string> list_ports(std::size_t limit, std::size_t max_name_length) {
    std::vector<std::string> virt = virtual_ports();
    std::vector<std::string> hw = hardware_ports();
    std::sort(virt.begin(), virt.end(), natural_less);
    std::sort(hw.begin(), hw.end(), natural_less);

    std::vector<std::string> out;
    const auto add = [&](const std::string& name) {
        if (out.size() >= limit) return;
        // A name that does not fit whole (with its terminating NUL) is not
        // listed: a cut name would open another port or none.
        if (max_name_length == 0 || name.size() > max_name_length - 1) return;
        if (std::find(out.begin(), out.end(), name) != out.end()) return;
        out.push_back(name);
    };
    for (const auto& name : virt) add(name);
    for (const auto& name : hw) add(name);
    return out;
}

}  // namespace zorvik::serial
