// The receiver's side of the program's port on Windows: the far end of two
// joined COM ports (under Wine, the two ends of a socat pseudo-terminal pair).
#include <windows.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "shell_support.h"

namespace zorvik::apptest {

namespace {

std::string PortFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

HANDLE Handle(void* peer) {
    return static_cast<HANDLE>(peer);
}

}  // namespace

PtyPeer::PtyPeer() : slave_path_(PortFromEnvironment("ZORVIK_TEST_PORT", "COM1")) {
    const std::string peer = "\\\\.\\" + PortFromEnvironment("ZORVIK_PEER_PORT", "COM2");
    HANDLE h = CreateFileA(peer.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open the peer port " + peer);
    peer_ = h;
    // Reads return at once with what has arrived; read_burst does the waiting.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = 2000;
    SetCommTimeouts(h, &t);
    // Nothing left over from an earlier test reaches this one.
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

PtyPeer::~PtyPeer() {
    if (peer_) CloseHandle(Handle(peer_));
}

void PtyPeer::write(const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(Handle(peer_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) ||
        written != bytes.size()) {
        throw std::runtime_error("write to the peer port failed");
    }
}

std::string PtyPeer::read_burst(int timeout_ms, int quiet_ms) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        char buf[512];
        DWORD n = 0;
        if (!ReadFile(Handle(peer_), buf, sizeof buf, &n, nullptr)) break;
        if (n > 0) {
            out.append(buf, n);
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(quiet_ms);
            continue;
        }
        // Keep the program's events flowing while waiting.
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return out;
}

void PtyPeer::drain() {
    read_burst(30, 30);
}

long PtyPeer::baud() const {
    return -1;
}

}  // namespace zorvik::apptest
