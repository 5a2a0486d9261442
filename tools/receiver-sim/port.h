// The simulator's end of the wire: a pseudo-terminal (or a real tty), its
// registration as a virtual port, and output paced at the line rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {

class Port {
  public:
    // A new pseudo-terminal whose slave starts raw 8N1 at baud.
    static Port create_pty(int baud, std::string& error);
    // A real tty, configured raw 8N1 at baud.
    static Port open_tty(const std::string& path, int baud, std::string& error);

    Port() = default;
    Port(Port&& other) noexcept;
    Port& operator=(Port&& other) noexcept;
    ~Port();

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }  // what the simulator reads and writes
    const std::string& device() const { return device_; }
    bool is_pty() const { return slave_fd_ >= 0; }

    // The rate the other end has set: on a pty the slave's speed as the
    // program installed it; on a real tty our own (both ends share the line).
    int peer_rate() const;
    // Our own rate changed; on a real tty the line is reconfigured.
    void set_own_rate(int baud);

    // Nonblocking write of what the port takes now; returns the count taken.
    std::size_t write_some(const std::uint8_t* data, std::size_t n);
    // Nonblocking read; returns the count, 0 when nothing waits, -1 when the port is gone.
    long read_some(std::uint8_t* data, std::size_t n);

  private:
    void close_all();
    int fd_ = -1;
    int slave_fd_ = -1;  // our own slave descriptor: keeps the pty alive, never read
    int own_rate_ = 9600;
    std::string device_;
};

// termios speed constant for a baud rate (0 when unsupported) and back.
unsigned speed_constant(int baud);
int baud_of_speed(unsigned speed);

// A registration symlink dir/name -> device, removed again by remove().
// A name that a running simulator holds is refused.
class Registration {
  public:
    Registration() = default;
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration() { remove(); }

    bool create(const std::string& dir, const std::string& name, const std::string& device,
                std::string& error);
    void remove();
    const std::string& link() const { return link_; }

  private:
    bool take_name(const std::string& dir, const std::string& name, std::string& error);
    void release_name();
    std::string link_;
    std::string device_;
    int lock_fd_ = -1;
};

// Output at the line rate: 10 bits per byte, written in chunks of about 10 ms.
// At a rate the peer does not share, each byte is turned into what a UART at
// the wrong rate would deliver: no '$' and no line feed, so never a sentence.
class PacedWriter {
  public:
    void queue(const std::string& bytes) { queue(bytes.data(), bytes.size()); }
    void queue(const void* data, std::size_t n);
    void clear() { pending_.clear(); }
    bool empty() const { return pending_.empty(); }
    std::size_t pending() const { return pending_.size(); }

    // Writes what is due at time now (seconds); returns seconds until the next chunk
    // is due (a large value when idle). Bytes the port cannot take are lost, as
    // on a UART whose receiver does not read.
    double pump(Port& port, double now, int rate, bool rate_matches);
    std::size_t lost() const { return lost_; }

  private:
    std::deque<std::uint8_t> pending_;
    double next_ = 0;
    std::size_t lost_ = 0;
};

std::uint8_t garble(std::uint8_t b);

}  // namespace sim
