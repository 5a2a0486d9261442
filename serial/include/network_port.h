// Ports on a serial device server, named rfc2217://HOST:PORT (the telnet
// COM-port option: the client sets the device's line rate and format) or
// tcp://HOST:PORT (raw bytes; the rate is whatever the server has set). The
// port name alone chooses this backend: open_exclusive and the calls on the
// handle it gives work on such a port as on a local one.
//
// The handle contract stays: COM_Open hands out a descriptor that reads as a
// serial port's (on POSIX the far end of a pseudo-terminal, raw, VMIN 0 /
// VTIME 1, so read() waits at most 100 ms and returns only the receiver's
// bytes), and writes go through a second, non-blocking open of it. A relay
// thread per port moves bytes between that pseudo-terminal and the TCP
// connection: it doubles and undoubles IAC, answers the option negotiation
// and hands the server's COM-port answers to the thread waiting for them. A
// connection that ends closes the relay's side of the pseudo-terminal, so the
// handle reports a hang-up as a pulled receiver's port does. On Win32 the
// program's end is two pipes, one each way, whose relay side is closed when
// the connection ends, so that the handle's reads fail (socket_winsock.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zorvik::serial {

enum class NetworkKind { ComPortControl, Raw };

struct NetworkAddress {
    NetworkKind kind;
    std::string host;  // without the brackets of an IPv6 literal
    std::uint16_t port;
};

// True when the name asks for a network port (starts with rfc2217:// or
// tcp://, any letter case), whether or not the rest is a valid address.
bool is_network_port_name(const std::string& port_name);

// The address in rfc2217://HOST:PORT or tcp://HOST:PORT ([IPv6]:PORT too);
// nothing when the name is not one of these or the port is not 1 to 65535.
std::optional<NetworkAddress> parse_network_address(const std::string& port_name);

// False for a port whose rate cannot follow the receiver: a raw tcp:// port,
// whose rate is the server's. A rate change on such a port is refused before
// anything is sent.
bool rate_follows(const std::string& port_name);

}  // namespace zorvik::serial
