// What the program's reader thread does, for system tests: reads the port one
// byte at a time through the serial layer, assembles lines from '$' to LF,
// cuts CR LF and hands each line to ParseNMEA in a 500-byte zero-filled buffer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "ZorvikDll.h"
#include "serial_port.h"

class SystemReader {
  public:
    explicit SystemReader(std::intptr_t handle) : handle_(handle), thread_([this] { run(); }) {}
    ~SystemReader() { stop(); }
    SystemReader(const SystemReader&) = delete;
    SystemReader& operator=(const SystemReader&) = delete;

    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int lines() const { return lines_; }
    int dropped() const { return dropped_; }

  private:
    void run() {
        zorvik::serial::ByteReader reader;
        char line[500];
        std::size_t len = 0;
        bool in_line = false;
        while (!stop_ && GetComPort_connected_Status() == 1) {
            std::uint8_t b = 0;
            const int r = reader.read_byte(handle_, b);
            if (r < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (r == 0) continue;
            if (b == '$') {
                in_line = true;
                len = 0;
            }
            if (!in_line) continue;
            if (b == '\n') {
                in_line = false;
                while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n')) --len;
                char buf[500] = {};
                std::memcpy(buf, line, len);
                ParseNMEA(buf);
                ++lines_;
                continue;
            }
            if (len >= 499) {  // longer than any sentence: dropped whole
                in_line = false;
                ++dropped_;
                continue;
            }
            line[len++] = static_cast<char>(b);
        }
    }

    std::intptr_t handle_;
    std::atomic<bool> stop_{false};
    std::atomic<int> lines_{0};
    std::atomic<int> dropped_{0};
    std::thread thread_;
};

inline ParseNMEAInfo snapshot() {
    ParseNMEAInfo info{};
    GetParseNMEAInfo(&info);
    return info;
}

// Polls the state record until pred holds or timeout_ms passes.
inline bool wait_for_state(const std::function<bool(const ParseNMEAInfo&)>& pred, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (pred(snapshot())) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The text of a string field "key":"..." of a report line (no escapes expected).
inline std::string report_field(const std::string& line, const std::string& key) {
    const std::string tag = "\"" + key + "\":\"";
    const std::size_t at = line.find(tag);
    if (at == std::string::npos) return {};
    const std::size_t start = at + tag.size();
    const std::size_t end = line.find('"', start);
    return end == std::string::npos ? std::string() : line.substr(start, end - start);
}
