// The network backend's platform part on Win32: Winsock connections. A
// handle that reads as a COM port's (ReadFile under COMMTIMEOUTS) cannot be
// made from a socket, so the program's end is not built here yet and such an
// open fails with OpenFailure::Other after the connection has been tried.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "socket_io.h"

namespace zorvik::serial::net {

namespace {

constexpr long kConnectBoundS = 5;

bool winsock_started() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

SOCKET sock(Socket s) {
    return static_cast<SOCKET>(s);
}

// 0 when connected, else the WSA error (WSAETIMEDOUT past the bound).
int connect_one(SOCKET s, const addrinfo& a) {
    if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) == 0) return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval bound{kConnectBoundS, 0};
    if (::select(0, nullptr, &writable, &failed, &bound) <= 0) return WSAETIMEDOUT;
    if (FD_ISSET(s, &writable)) return 0;
    int so_error = 0;
    int len = sizeof so_error;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len);
    return so_error != 0 ? so_error : WSAECONNREFUSED;
}

long io_result(int n) {
    if (n >= 0) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

}  // namespace

Socket connect_stream(const std::string& host, std::uint16_t port, OpenFailure& failure) {
    if (!winsock_started()) {
        failure = OpenFailure::Other;
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
        failure = OpenFailure::UnknownHost;
        return kNoSocket;
    }
    int last_error = WSAETIMEDOUT;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        u_long non_blocking = 1;
        ::ioctlsocket(s, FIONBIO, &non_blocking);
        last_error = connect_one(s, *a);
        if (last_error == 0) {
            ::freeaddrinfo(list);
            failure = OpenFailure::None;
            return static_cast<Socket>(s);
        }
        ::closesocket(s);
    }
    ::freeaddrinfo(list);
    failure = last_error == WSAECONNREFUSED ? OpenFailure::Refused : OpenFailure::Unreachable;
    return kNoSocket;
}

long send_some(Socket s, const std::uint8_t* data, std::size_t n) {
    return io_result(::send(sock(s), reinterpret_cast<const char*>(data), static_cast<int>(n), 0));
}

long receive_some(Socket s, std::uint8_t* data, std::size_t n) {
    const int got = ::recv(sock(s), reinterpret_cast<char*>(data), static_cast<int>(n), 0);
    if (got == 0) return -1;
    return io_result(got);
}

void close_socket(Socket s) {
    if (s == kNoSocket) return;
    ::shutdown(sock(s), SD_BOTH);
    ::closesocket(sock(s));
}

bool ended_at_once(Socket s, int wait_ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(s), &readable);
    timeval wait{wait_ms / 1000, (wait_ms % 1000) * 1000};
    char first = 0;
    return ::select(0, &readable, nullptr, nullptr, &wait) == 1 &&
           ::recv(sock(s), &first, 1, MSG_PEEK) == 0;
}

bool open_local_end(LocalEnd&) {
    return false;
}

long relay_read(Handle, std::uint8_t*, std::size_t) {
    return -1;
}

long relay_write(Handle, const std::uint8_t*, std::size_t) {
    return -1;
}

void close_relay(Handle) {}

bool open_wake(Wake&) {
    return false;
}

void signal_wake(const Wake&) {}

void close_wake(Wake& w) {
    w = {};
}

Ready wait_ready(Socket, Handle, const Wanted&, const Wake&, int timeout_ms) {
    ::Sleep(static_cast<DWORD>(timeout_ms));
    return {};
}

}  // namespace zorvik::serial::net
