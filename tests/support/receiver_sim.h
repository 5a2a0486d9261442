// Starts the receiver simulator for a test and reads its report.
// Header-only, plain C++20 and POSIX.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#ifndef ZORVIK_RECEIVER_SIM
#define ZORVIK_RECEIVER_SIM "receiver-sim"
#endif

class ReceiverSim {
  public:
    // Starts the simulator with a private report file, registry directory,
    // port name and image file unless extra_args gives them; waits for "ready".
    explicit ReceiverSim(std::vector<std::string> extra_args = {},
                         std::string binary = ZORVIK_RECEIVER_SIM) {
        char tmpl[] = "/tmp/receiver-sim-test-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("ReceiverSim: mkdtemp failed");
        tmp_dir_ = tmpl;

        auto given = [&](const char* opt) -> std::string* {
            for (std::size_t i = 0; i + 1 < extra_args.size(); ++i)
                if (extra_args[i] == opt) return &extra_args[i + 1];
            return nullptr;
        };
        std::vector<std::string> args{binary};
        if (auto* v = given("--report")) {
            report_path_ = *v;
        } else {
            report_path_ = tmp_dir_ + "/report.jsonl";
            args.insert(args.end(), {"--report", report_path_});
        }
        if (auto* v = given("--registry-dir")) {
            registry_dir_ = *v;
        } else {
            registry_dir_ = tmp_dir_ + "/ports";
            args.insert(args.end(), {"--registry-dir", registry_dir_});
        }
        if (auto* v = given("--port-name")) {
            port_name_ = *v;
        } else {
            static std::atomic<int> counter{0};
            port_name_ = "SIM" + std::to_string(getpid()) + "_" + std::to_string(++counter);
            args.insert(args.end(), {"--port-name", port_name_});
        }
        if (auto* v = given("--image-out")) {
            image_path_ = *v;
        } else {
            image_path_ = tmp_dir_ + "/image.bin";
            args.insert(args.end(), {"--image-out", image_path_});
        }
        args.push_back("--exit-with-parent");
        args.insert(args.end(), extra_args.begin(), extra_args.end());

        int pipe_fds[2];
        if (pipe(pipe_fds) != 0) throw std::runtime_error("ReceiverSim: pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipe_fds[1]);
        out_fd_ = pipe_fds[0];
        if (rc != 0) {
            cleanup_files();
            throw std::runtime_error("ReceiverSim: cannot start " + binary);
        }
        wait_ready();
    }

    ~ReceiverSim() {
        stop();
        if (out_fd_ >= 0) close(out_fd_);
        cleanup_files();
    }

    ReceiverSim(const ReceiverSim&) = delete;
    ReceiverSim& operator=(const ReceiverSim&) = delete;

    const std::string& device() const { return device_; }
    const std::string& port_name() const { return port_name_; }
    const std::string& registry_dir() const { return registry_dir_; }
    const std::string& report_path() const { return report_path_; }
    std::string image_path() const { return image_path_; }
    pid_t pid() const { return pid_; }

    std::vector<std::string> report_lines() const {
        std::vector<std::string> lines;
        std::ifstream in(report_path_);
        std::string line;
        // Only whole lines: the simulator may be half-way through writing one.
        while (std::getline(in, line))
            if (!in.eof()) lines.push_back(line);
        return lines;
    }

    int count_reports(const std::string& substring) const {
        int n = 0;
        for (const auto& line : report_lines())
            if (line.find(substring) != std::string::npos) ++n;
        return n;
    }

    bool wait_for_report(const std::string& substring, int timeout_ms) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            if (count_reports(substring) > 0) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // SIGTERM and wait: the simulator removes its registration.
    void stop() { end(SIGTERM); }
    // SIGKILL: no cleanup, the registration link stays behind (stale).
    void kill9() { end(SIGKILL); }

    bool running() const {
        if (pid_ <= 0) return false;
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            exit_status_ = status;
            return false;
        }
        return r == 0;
    }

    // Wait status of the ended simulator (waitpid's), -1 while it runs.
    int exit_status() const { return exit_status_; }

  private:
    void wait_ready() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string pending;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd p{out_fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
            char buf[256];
            const ssize_t n = read(out_fd_, buf, sizeof buf);
            if (n <= 0) break;
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (line.rfind("device ", 0) == 0) device_ = line.substr(7);
                if (line == "ready" && !device_.empty()) return;
            }
        }
        end(SIGKILL);
        cleanup_files();
        throw std::runtime_error("ReceiverSim: simulator did not become ready within 10 s");
    }

    void end(int sig) {
        if (pid_ <= 0) return;
        if (!running()) return;
        kill(pid_, sig);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (running()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid_, SIGKILL);
                int status = 0;
                waitpid(pid_, &status, 0);
                exit_status_ = status;
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void cleanup_files() {
        std::error_code ec;
        if (!tmp_dir_.empty()) std::filesystem::remove_all(tmp_dir_, ec);
    }

    mutable pid_t pid_ = -1;
    mutable int exit_status_ = -1;
    int out_fd_ = -1;
    std::string tmp_dir_;
    std::string device_;
    std::string port_name_;
    std::string registry_dir_;
    std::string report_path_;
    std::string image_path_;
};
