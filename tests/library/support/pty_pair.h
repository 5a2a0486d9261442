// A real pseudo-terminal pair for serial tests: the library opens the slave
// side by its path, the test plays the receiver on the master side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvik::test {

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

    // Writes bytes to the master side (arrive at the library's port).
    void write(const void* data, std::size_t n);
    void write(const std::string& text) { write(text.data(), text.size()); }

    // Reads what the library wrote: waits up to timeout_ms for the first byte,
    // then gathers until the line has been quiet for quiet_ms.
    std::vector<std::uint8_t> read_burst(int timeout_ms = 1000, int quiet_ms = 50);
    // Reads exactly n bytes or fewer when timeout_ms passes first.
    std::vector<std::uint8_t> read_exact(std::size_t n, int timeout_ms = 2000);
    // Discards whatever is waiting on the master side.
    void drain();

  private:
    int master_ = -1;
    int slave_keepalive_ = -1;  // keeps the pty open between the library's opens
    std::string slave_path_;
};

inline std::string as_text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace zorvik::test
