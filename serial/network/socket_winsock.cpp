// The network backend's platform part on Win32: Winsock connections, and
// the program's end of a port as two anonymous pipes, one each way: the
// handle reads the relay's deliveries, the writer feeds the relay. Only what
// a pipe holds is ever read, and never more than it has room for written, so
// no call blocks on a pipe. A pipe cannot be waited on: the relay sets a
// named event for each delivery, which a read waits on (any copy of the
// serial layer finds it by the handle), and waits itself on the socket's
// network events and on a wake event that each write of the program sets.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <mstcpip.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bounded_resolve.h"
#include "device_backend.h"
#include "socket_io.h"

namespace zorvik::serial::net {

namespace {

constexpr long kConnectBoundS = 5;
// A peer that vanishes without closing (a pulled cable) is found by the
// keep-alive probes within about these seconds.
constexpr ULONG kKeepAliveIdleMs = 5000;
constexpr ULONG kKeepAliveIntervalMs = 1000;
// What is ever put into a pipe: well below its size (kNetworkPipeSize), so
// that a write never waits for room.
constexpr DWORD kPipeFill = 4096;
constexpr DWORD kPipePollMs = 2;
// The close waits this long for the server's own end (see close_socket).
constexpr DWORD kServerEndBoundMs = 1000;
// What the start of a connection may bring before the relay takes over.
constexpr std::size_t kHeldBackLimit = 64 * 1024;

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

void keep_alive(SOCKET s) {
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive probes{1, kKeepAliveIdleMs, kKeepAliveIntervalMs};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &probes, sizeof probes, nullptr, 0, &returned, nullptr,
               nullptr);
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
    const auto resolved = resolve(host, port);
    if (!resolved) {
        failure = OpenFailure::Unreachable;
        return kNoSocket;
    }
    if (resolved->result != 0 || resolved->list == nullptr) {
        failure = OpenFailure::UnknownHost;
        return kNoSocket;
    }
    int last_error = WSAETIMEDOUT;
    for (const addrinfo* a = resolved->list; a != nullptr; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        u_long non_blocking = 1;
        ::ioctlsocket(s, FIONBIO, &non_blocking);
        last_error = connect_one(s, *a);
        if (last_error == 0) {
            keep_alive(s);
            failure = OpenFailure::None;
            return static_cast<Socket>(s);
        }
        ::closesocket(s);
    }
    failure = last_error == WSAECONNREFUSED ? OpenFailure::Refused : OpenFailure::Unreachable;
    return kNoSocket;
}

long send_some(Socket s, const std::uint8_t* data, std::size_t n) {
    return io_result(::send(sock(s), reinterpret_cast<const char*>(data), static_cast<int>(n), 0));
}

namespace {

// What ended_at_once read before the relay started, by socket.
std::mutex held_back_mutex;
std::map<Socket, std::vector<std::uint8_t>> held_back;

// Bytes moved from what was held back for s, 0 when nothing was.
long take_held_back(Socket s, std::uint8_t* data, std::size_t n) {
    std::lock_guard lock(held_back_mutex);
    const auto it = held_back.find(s);
    if (it == held_back.end()) return 0;
    std::vector<std::uint8_t>& bytes = it->second;
    const std::size_t taken = std::min(n, bytes.size());
    std::copy_n(bytes.begin(), taken, data);
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(taken));
    if (bytes.empty()) held_back.erase(it);
    return static_cast<long>(taken);
}

}  // namespace

long receive_some(Socket s, std::uint8_t* data, std::size_t n) {
    if (const long early = take_held_back(s, data, n); early > 0) return early;
    const int got = ::recv(sock(s), reinterpret_cast<char*>(data), static_cast<int>(n), 0);
    if (got == 0) return -1;
    return io_result(got);
}

namespace {

std::mutex socket_events_mutex;
std::map<Socket, WSAEVENT> socket_events;

// The event the socket's reads, writes and end set, made at the first wait.
WSAEVENT socket_event(Socket s) {
    std::lock_guard lock(socket_events_mutex);
    const auto it = socket_events.find(s);
    if (it != socket_events.end()) return it->second;
    const WSAEVENT e = ::WSACreateEvent();
    if (e == WSA_INVALID_EVENT) return e;
    ::WSAEventSelect(sock(s), e, FD_READ | FD_WRITE | FD_CLOSE);
    socket_events[s] = e;
    return e;
}

void forget_socket_event(Socket s) {
    std::lock_guard lock(socket_events_mutex);
    const auto it = socket_events.find(s);
    if (it == socket_events.end()) return;
    ::WSAEventSelect(sock(s), nullptr, 0);
    ::WSACloseEvent(it->second);
    socket_events.erase(it);
}

// A device server frees its device for the next session once it has seen
// our end: the close waits that long for the server's own end, so that a
// reopen (a rate change, a flash) does not find the device still taken.
void wait_for_server_end(SOCKET s) {
    const ULONGLONG deadline = ::GetTickCount64() + kServerEndBoundMs;
    char unread[512];
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return;
        const ULONGLONG left = deadline - now;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) return;
        const int got = ::recv(s, unread, sizeof unread, 0);
        if (got == 0 || (got < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK)) return;
    }
}

}  // namespace

void close_socket(Socket s) {
    if (s == kNoSocket) return;
    forget_socket_event(s);
    {
        std::lock_guard lock(held_back_mutex);
        held_back.erase(s);
    }
    if (::shutdown(sock(s), SD_SEND) == 0) wait_for_server_end(sock(s));
    ::closesocket(sock(s));
}

bool ended_at_once(Socket s, int wait_ms) {
    // Winsock cannot peek behind data for the end, so what the server sends
    // meanwhile (a parting line such as "device already in use", or the
    // receiver's first bytes) is read and held for receive_some.
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(wait_ms);
    std::vector<std::uint8_t> early;
    std::uint8_t chunk[4096];
    bool ended = false;
    for (ULONGLONG now = ::GetTickCount64(); now < deadline && !ended; now = ::GetTickCount64()) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(sock(s), &readable);
        const ULONGLONG left = deadline - now;
        timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
        const int got = ::recv(sock(s), reinterpret_cast<char*>(chunk), sizeof chunk, 0);
        if (got > 0 && early.size() < kHeldBackLimit) early.insert(early.end(), chunk, chunk + got);
        ended = got == 0 || (got < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK);
    }
    if (!ended && !early.empty()) {
        std::lock_guard lock(held_back_mutex);
        held_back[s] = std::move(early);
    }
    return ended;
}

namespace {

HANDLE win(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}

Handle ours(HANDLE h) {
    return reinterpret_cast<Handle>(h);
}

// One port's pipes: to_program (the relay writes, the program's handle
// reads) and from_program (the program's writer writes, the relay reads).
// m guards the program's writes and drains, which use the relay's end, against
// its close; the relay's own reads and writes need no lock, since only the
// relay thread closes its ends. The read side's calls need nothing but the
// handle (serial_port_win32.cpp): the program reads through its own copy of
// the serial layer, which knows nothing of this registry.
struct Channel {
    std::mutex m;
    HANDLE program_in = nullptr;   // to_program's read end: the port's handle
    HANDLE relay_out = nullptr;    // to_program's write end
    HANDLE relay_in = nullptr;     // from_program's read end
    HANDLE program_out = nullptr;  // from_program's write end: the port's writer
    HANDLE delivered = nullptr;    // set for each delivery into to_program, and at its end
    bool released = false;
};

std::mutex channels_mutex;
std::map<Handle, std::shared_ptr<Channel>> channels_by_handle;
std::map<Handle, std::shared_ptr<Channel>> channels_by_writer;

std::shared_ptr<Channel> find(const std::map<Handle, std::shared_ptr<Channel>>& in, Handle h) {
    std::lock_guard lock(channels_mutex);
    const auto it = in.find(h);
    return it == in.end() ? nullptr : it->second;
}

std::shared_ptr<Channel> channel_of(Handle h) {
    return find(channels_by_handle, h);
}

// Bytes waiting in a pipe; nothing once its other end has closed and it is empty.
std::optional<DWORD> waiting_in(HANDLE read_end) {
    DWORD avail = 0;
    if (read_end == nullptr || !::PeekNamedPipe(read_end, nullptr, 0, nullptr, &avail, nullptr))
        return std::nullopt;
    return avail;
}

void close_if_open(HANDLE& h) {
    if (h != nullptr) ::CloseHandle(h);
    h = nullptr;
}

// Up to n bytes of what waits in read_end, never more (so never a blocking read).
long read_waiting(HANDLE read_end, void* buf, std::size_t n) {
    const auto avail = waiting_in(read_end);
    if (!avail) return -1;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(*avail, n));
    if (want == 0) return 0;
    DWORD got = 0;
    if (!::ReadFile(read_end, buf, want, &got, nullptr)) return -1;
    return static_cast<long>(got);
}

// What a pipe may take without its write waiting for room.
DWORD room_in(HANDLE read_end) {
    const auto avail = waiting_in(read_end);
    return avail && *avail < kPipeFill ? kPipeFill - *avail : 0;
}

long write_some(HANDLE write_end, const void* data, DWORD n) {
    DWORD put = 0;
    if (!::WriteFile(write_end, data, n, &put, nullptr)) return -1;
    return static_cast<long>(put);
}

}  // namespace

bool open_local_end(LocalEnd& out) {
    auto c = std::make_shared<Channel>();
    const bool made = ::CreatePipe(&c->program_in, &c->relay_out, nullptr, kNetworkPipeSize) &&
                      ::CreatePipe(&c->relay_in, &c->program_out, nullptr, kNetworkPipeSize) &&
                      (c->delivered = ::CreateEventA(
                           nullptr, FALSE, FALSE,
                           network_delivery_event_name(ours(c->program_in)).c_str())) != nullptr;
    if (!made) {
        for (HANDLE* h :
             {&c->program_in, &c->relay_out, &c->relay_in, &c->program_out, &c->delivered})
            close_if_open(*h);
        return false;
    }
    out.port = Port{ours(c->program_in), ours(c->program_out)};
    out.relay = ours(c->relay_in);
    out.relay_writer = ours(c->relay_out);
    std::lock_guard lock(channels_mutex);
    channels_by_handle[out.port.handle] = c;
    channels_by_writer[out.port.writer] = c;
    return true;
}

long relay_read(const LocalEnd& end, std::uint8_t* data, std::size_t n) {
    return end.relay == kInvalidHandle ? -1 : read_waiting(win(end.relay), data, n);
}

long relay_write(const LocalEnd& end, const std::uint8_t* data, std::size_t n) {
    const auto c = channel_of(end.port.handle);
    if (!c || end.relay_writer == kInvalidHandle) return -1;
    const DWORD room = std::min<DWORD>(room_in(c->program_in), static_cast<DWORD>(n));
    if (room == 0) return 0;
    const long put = write_some(win(end.relay_writer), data, room);
    if (put > 0) ::SetEvent(c->delivered);
    return put;
}

void close_relay(LocalEnd& end) {
    if (const auto c = channel_of(end.port.handle)) {
        std::lock_guard lock(c->m);
        close_if_open(c->relay_in);
        close_if_open(c->relay_out);
        ::SetEvent(c->delivered);  // a waiting read finds the pipe broken
    }
    end.relay = end.relay_writer = kInvalidHandle;
}

void close_local_end(const Port& port) {
    std::shared_ptr<Channel> c;
    {
        std::lock_guard lock(channels_mutex);
        const auto it = channels_by_handle.find(port.handle);
        if (it == channels_by_handle.end()) return;
        c = it->second;
        channels_by_handle.erase(it);
        for (auto w = channels_by_writer.begin(); w != channels_by_writer.end(); ++w) {
            if (w->second != c) continue;
            channels_by_writer.erase(w);
            break;
        }
    }
    std::lock_guard lock(c->m);
    // A reader may wait in a read of what the pipe held before a purge took it.
    if (c->program_in != nullptr) ::CancelIoEx(c->program_in, nullptr);
    for (HANDLE* h : {&c->program_in, &c->program_out, &c->relay_in, &c->relay_out, &c->delivered})
        close_if_open(*h);
}

long local_read(Handle h, void* buf, std::size_t n) {
    return read_some_device(h, buf, n);
}

bool local_write(Handle writer, const void* data, std::size_t n, long bound_ms, const Wake& relay) {
    const auto c = find(channels_by_writer, writer);
    if (!c) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(bound_ms);
    while (n > 0) {
        {
            std::lock_guard lock(c->m);
            if (c->released || c->relay_in == nullptr || c->program_out == nullptr) return false;
            const DWORD room = std::min<DWORD>(
                room_in(c->relay_in), static_cast<DWORD>(std::min<std::size_t>(n, kPipeFill)));
            const long put = room == 0 ? 0 : write_some(c->program_out, bytes, room);
            if (put < 0) return false;
            bytes += put;
            n -= static_cast<std::size_t>(put);
        }
        if (n > 0) signal_wake(relay);
        if (n == 0) break;
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(kPipePollMs);
    }
    return true;
}

std::size_t local_queued(Handle h) {
    return queued_input_device(h);
}

void local_purge(Handle h, unsigned flags) {
    purge_device(h, flags);
}

void local_drain(Handle h, long bound_ms) {
    const auto c = channel_of(h);
    if (!c) return;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(bound_ms);
    while (::GetTickCount64() < deadline) {
        {
            std::lock_guard lock(c->m);
            if (waiting_in(c->relay_in).value_or(0) == 0) return;
        }
        ::Sleep(kPipePollMs);
    }
}

bool local_gone(Handle h) {
    return is_device_gone(h);
}

void local_release(Port& port) {
    if (const auto c = channel_of(port.handle)) {
        std::lock_guard lock(c->m);
        c->released = true;
        close_if_open(c->program_out);
    }
    port.writer = kInvalidHandle;
}

// A pipe has no time-outs to save or put back.
bool local_save(Handle, SavedSettings& out) {
    out.bytes.clear();
    return true;
}

void local_restore(Handle, const SavedSettings&) {}

// The rate lives in the session; the pipes have none.
void local_configure(Handle, const std::string&) {}

long local_write_bound(Handle, std::size_t n, std::uint32_t rate) {
    return write_bound_at_rate(rate, n);
}

bool open_wake(Wake& out) {
    const HANDLE e = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (e == nullptr) return false;
    out.read_end = out.write_end = ours(e);
    return true;
}

void signal_wake(const Wake& w) {
    if (w.write_end != kInvalidHandle) ::SetEvent(win(w.write_end));
}

void close_wake(Wake& w) {
    if (w.read_end != kInvalidHandle) ::CloseHandle(win(w.read_end));
    w = {};
}

Ready wait_ready(Socket s, const LocalEnd& end, const Wanted& wanted, const Wake& w,
                 int timeout_ms) {
    const WSAEVENT network = socket_event(s);
    const HANDLE events[2] = {network, win(w.read_end)};
    // A pipe cannot be waited on: room at the program's end is polled, the
    // program's writes set the wake.
    const DWORD wait =
        static_cast<DWORD>(wanted.relay_out ? std::min<int>(timeout_ms, kPipePollMs) : timeout_ms);
    ::WaitForMultipleObjects(2, events, FALSE, wait);
    WSANETWORKEVENTS seen{};
    ::WSAEnumNetworkEvents(sock(s), network, &seen);
    Ready ready;
    ready.socket_in = true;  // a receive finds out: data, nothing, or the end
    if (end.relay != kInvalidHandle) {
        const auto from_program = waiting_in(win(end.relay));
        ready.relay_in = wanted.relay_in && from_program.value_or(0) > 0;
        ready.relay_gone = !from_program;
    }
    if (wanted.relay_out && end.relay_writer != kInvalidHandle) {
        if (const auto c = channel_of(end.port.handle))
            ready.relay_out = room_in(c->program_in) > 0;
    }
    return ready;
}

}  // namespace zorvik::serial::net
