// What the network backend needs from the platform: a bounded connect, non-
// blocking sends and receives, the program's end of a port (a handle that
// reads as a serial port's) and a wait over the relay's descriptors. POSIX
// sockets with a pseudo-terminal in socket_posix.cpp, Winsock with a pair of
// pipes in socket_winsock.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "open_failure.h"
#include "serial_port.h"

namespace zorvik::serial::net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Resolves host and connects to port, each within its bound; the reason
// (UnknownHost, Refused, Unreachable) in failure when no address answers.
Socket connect_stream(const std::string& host, std::uint16_t port, OpenFailure& failure);
// Bytes sent (0: the socket takes nothing now), -1 when the connection is lost.
long send_some(Socket s, const std::uint8_t* data, std::size_t n);
// Bytes received (0: nothing waiting), -1 when the connection ended or was lost.
long receive_some(Socket s, std::uint8_t* data, std::size_t n);
void close_socket(Socket s);
// True when the server ends the connection within wait_ms of its start,
// whatever parting text it sent; nothing it sent is lost to receive_some.
bool ended_at_once(Socket s, int wait_ms);

// Lets another thread cut the relay's wait short.
struct Wake {
    Handle read_end = kInvalidHandle;
    Handle write_end = kInvalidHandle;
};
bool open_wake(Wake& out);
void signal_wake(const Wake& w);
void close_wake(Wake& w);

// The program's end (handle and writer, as a local port's) and the relay's:
// on POSIX both relay sides are one pseudo-terminal master, on Win32 the
// relay reads one pipe and writes another.
struct LocalEnd {
    Port port;
    Handle relay = kInvalidHandle;         // the program's writes arrive here
    Handle relay_writer = kInvalidHandle;  // received bytes go to the program here
};
bool open_local_end(LocalEnd& out);
// Bytes moved (0: nothing now), -1 when the program's end is closed.
long relay_read(const LocalEnd& end, std::uint8_t* data, std::size_t n);
long relay_write(const LocalEnd& end, const std::uint8_t* data, std::size_t n);
// Closes the relay's side: the program's end then reads as hung up.
void close_relay(LocalEnd& end);
void close_local_end(const Port& port);

// The program's side: serial_port.h's calls on a network port's handle or
// writer, each keeping its contract (a read waits at most 100 ms, -1 once
// the relay's side is closed and what it left has been read). rate is the
// line rate last set, bound_ms the write bound reckoned from it.
long local_read(Handle h, void* buf, std::size_t n);
// The relay is woken for each part of the write it can take.
bool local_write(Handle writer, const void* data, std::size_t n, long bound_ms, const Wake& relay);
std::size_t local_queued(Handle h);
void local_purge(Handle h, unsigned flags);
void local_drain(Handle h, long bound_ms);
bool local_gone(Handle h);
void local_release(Port& port);
bool local_save(Handle h, SavedSettings& out);
void local_restore(Handle h, const SavedSettings& saved);
void local_configure(Handle h, const std::string& mode);
long local_write_bound(Handle h, std::size_t n, std::uint32_t rate);

struct Ready {
    bool socket_in = false;  // data, an end or an error on the socket
    bool relay_in = false;   // the program wrote something
    bool relay_out = false;  // the program's end takes data
    bool relay_gone = false;
};
// What the relay waits for besides the socket's input and the wake.
struct Wanted {
    bool socket_out = false;  // room on the socket for what waits to be sent
    bool relay_in = false;    // the program's writes (not while the send backlog is full)
    bool relay_out = false;   // room at the program's end for received bytes
};
// Waits at most timeout_ms; drains the wake.
Ready wait_ready(Socket s, const LocalEnd& end, const Wanted& wanted, const Wake& w,
                 int timeout_ms);

}  // namespace zorvik::serial::net
