// Debian's ser2net in front of a device for a test: one telnet(rfc2217) and
// one raw tcp accepter on free loopback ports, from a configuration the test
// writes. Header-only, plain C++20 and POSIX.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

class Ser2netServer {
  public:
    static constexpr const char* kBinary = "/usr/sbin/ser2net";
    static bool Available() { return ::access(kBinary, X_OK) == 0; }

    explicit Ser2netServer(const std::string& device)
        : rfc2217_port_(FreePort()), raw_port_(FreePort()) {
        char tmpl[] = "/tmp/zorvik-ser2net-XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("Ser2netServer: mkdtemp failed");
        dir_ = tmpl;
        const std::string config = dir_ + "/ser2net.yaml";
        std::ofstream out(config);
        out << "connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217_port_
            << "\n  connector: serialdev," << device << ",9600n81,local\n"
            << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw_port_
            << "\n  connector: serialdev," << device << ",9600n81,local\n";
        out.close();
        const char* argv[] = {kBinary, "-n", "-d", "-c", config.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawn(&pid_, kBinary, &actions, nullptr,
                                          const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) throw std::runtime_error("Ser2netServer: cannot start ser2net");
        if (!WaitListening()) {
            Stop();
            throw std::runtime_error("Ser2netServer: ser2net does not listen");
        }
    }
    ~Ser2netServer() {
        Stop();
        std::filesystem::remove_all(dir_);
    }
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    std::string ComPortUrl() const {
        return "rfc2217://127.0.0.1:" + std::to_string(rfc2217_port_);
    }
    std::string RawUrl() const { return "tcp://127.0.0.1:" + std::to_string(raw_port_); }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    static sockaddr_in Loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        return a;
    }
    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(0);
        socklen_t len = sizeof a;
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(s);
        return ntohs(a.sin_port);
    }
    static bool Listens(int port) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(port);
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        return ok;
    }
    // The rfc2217 accepter is asked, so that the raw one's device stays free.
    bool WaitListening() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Listens(rfc2217_port_)) {
                // ser2net ends that probe's session before the next connection.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    int rfc2217_port_;
    int raw_port_;
    std::string dir_;
    pid_t pid_ = -1;
};
