// The peers of the service tests: the local A-GPS server as a child process,
// and the frames a receiver should take from an ephemeris file.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "ZorvikDll.h"

extern char** environ;

// tools/agps-server/agps_server.py on a free port; address() is "http://host:port".
class AgpsServerProcess {
  public:
    explicit AgpsServerProcess(const std::string& mode = "normal",
                               const std::vector<std::string>& options = {}) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<std::string> args{
            ZORVIK_SYSTEM_PYTHON, ZORVIK_AGPS_SERVER, "--port", "0", "--mode", mode};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc == 0) address_ = ReadAddress(fds[0]);
        close(fds[0]);
        if (address_.empty()) throw std::runtime_error("the A-GPS server did not start");
    }
    ~AgpsServerProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    AgpsServerProcess(const AgpsServerProcess&) = delete;
    AgpsServerProcess& operator=(const AgpsServerProcess&) = delete;

    const std::string& address() const { return address_; }

  private:
    static std::string ReadAddress(int fd) {
        std::string line;
        char c = 0;
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line += c;
        const std::string prefix = "listening ";
        return line.rfind(prefix, 0) == 0 ? "http://" + line.substr(prefix.size()) : "";
    }
    pid_t pid_ = -1;
    std::string address_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file made for the current time, as the server serves it ("be" or "lte").
// What a reader beside the procedure does: reads the port (a descriptor),
// hands each line to ParseNMEA, and says whether a version reply raised
// parse_fw_ver_done within timeout_ms.
inline bool ParsedVersionReply(std::intptr_t port, int timeout_ms) {
    const auto fd = static_cast<int>(port);
    std::string pending;
    // A deadline, not a count of polls: a streaming receiver ends each poll early.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) pending.append(buf, static_cast<std::size_t>(n));
        }
        for (std::size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            const std::size_t start = line.rfind('$');
            if (start == std::string::npos) continue;
            line = line.substr(start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ParseNMEA(line.data());
        }
        ParseNMEAInfo info{};
        GetParseNMEAInfo(&info);
        if (info.parse_fw_ver_done == 1) return true;
    }
    return false;
}

// A file of the kind made for now, its time age_s seconds back (ahead when negative).
inline std::string MadeEphemerisFile(const std::string& kind, const std::string& path,
                                     long age_s = 1800) {
    const std::string command = std::string(ZORVIK_SYSTEM_PYTHON) + " " + ZORVIK_AGPS_SERVER +
                                " --age " + std::to_string(age_s) + " --write-" + kind + " " + path;
    if (std::system(command.c_str()) != 0) throw std::runtime_error(command);
    return ReadBytes(path);
}

// The frames of a broadcast ephemeris file, in hex, as the upload sends them:
// every sync pair after the first line, its payload length at bytes 4-5.
inline std::vector<std::string> BroadcastFramesHex(const std::string& d) {
    std::vector<std::string> frames;
    const std::size_t lf = d.find('\n');
    std::size_t q = lf != std::string::npos && lf < 18 ? lf : 18;
    while (q + 5 < d.size()) {
        const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(d[k]); };
        if (byte(q) != 0x81 || byte(q + 1) != 0xFF) {
            ++q;
            continue;
        }
        const std::size_t len = 8 + (byte(q + 4) | (byte(q + 5) << 8));
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (std::size_t k = q; k < q + len && k < d.size(); ++k) {
            hex += digits[byte(k) >> 4];
            hex += digits[byte(k) & 15];
        }
        frames.push_back(hex);
        q += len;
    }
    return frames;
}

// The value of "key":"..." in a report line.
inline std::string ReportField(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\":\"";
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) return {};
    const std::size_t start = at + marker.size();
    return line.substr(start, line.find('"', start) - start);
}
