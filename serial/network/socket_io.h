// What the network backend needs from the platform: a bounded connect, non-
// blocking sends and receives, the program's end of a port (a handle that
// reads as a serial port's) and a wait over the relay's descriptors. POSIX
// sockets with a pseudo-terminal in socket_posix.cpp, Winsock in
// socket_winsock.cpp.
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
// whatever parting text it sent; nothing it sent is taken.
bool ended_at_once(Socket s, int wait_ms);

// The program's end (handle and writer, as a local port's) and the relay's.
struct LocalEnd {
    Port port;
    Handle relay = kInvalidHandle;
};
bool open_local_end(LocalEnd& out);
// Bytes moved (0: nothing now), -1 when the program's end is closed.
long relay_read(Handle relay, std::uint8_t* data, std::size_t n);
long relay_write(Handle relay, const std::uint8_t* data, std::size_t n);
void close_relay(Handle relay);

// Lets another thread cut the relay's wait short.
struct Wake {
    Handle read_end = kInvalidHandle;
    Handle write_end = kInvalidHandle;
};
bool open_wake(Wake& out);
void signal_wake(const Wake& w);
void close_wake(Wake& w);

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
Ready wait_ready(Socket s, Handle relay, const Wanted& wanted, const Wake& w, int timeout_ms);

}  // namespace zorvik::serial::net
