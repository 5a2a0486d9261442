#include "OpenFailureText.h"

#include <array>

#include "ZorvikDll.h"
#include "network_port.h"
#include "serial_port.h"

namespace zorvik::link {

namespace {

constexpr std::array<OpenFailureWords, 15> kWords{{
    {ZORVIK_OPEN_OK, "", ""},
    {ZORVIK_OPEN_NO_NAME, "No port is chosen: choose one with Mode, Setup COM Port.",
     "no port name given"},
    {ZORVIK_OPEN_ABSENT, "The device does not exist.", "no such device"},
    {ZORVIK_OPEN_NO_PERMISSION,
     "No permission to use the device: the user must be in the dialout group.",
     "permission denied (is the user in the dialout group?)"},
    {ZORVIK_OPEN_HELD, "The port is held by another program.", "in use by another program"},
    {ZORVIK_OPEN_NOT_SERIAL, "The device is not a serial port.", "not a serial port"},
    {ZORVIK_OPEN_BAD_ADDRESS, "A network port is named rfc2217://HOST:PORT or tcp://HOST:PORT.",
     "not a network port address; give rfc2217://HOST:PORT or tcp://HOST:PORT"},
    {ZORVIK_OPEN_UNKNOWN_HOST, "The host name is not known.", "unknown host"},
    {ZORVIK_OPEN_REFUSED, "The host refused the connection: no device server listens on that port.",
     "connection refused: no device server listens on that port"},
    {ZORVIK_OPEN_UNREACHABLE, "The host did not answer.", "no answer from the host"},
    {ZORVIK_OPEN_NO_COM_PORT_OPTION,
     "The device server does not take COM-port commands (RFC 2217).\n"
     "A raw port is opened as tcp://HOST:PORT.",
     "the server does not take COM-port commands (RFC 2217); a raw port is tcp://HOST:PORT"},
    {ZORVIK_OPEN_SETTINGS_REFUSED, "The device server did not set the rate and 8N1 asked for.",
     "the server did not set the rate and 8N1 asked for"},
    {ZORVIK_OPEN_CONNECTION_LOST, "The device server closed the connection.",
     "the server closed the connection"},
    {ZORVIK_OPEN_SERVER_BUSY,
     "The device server ended every connection at once: another connection may hold its "
     "device.",
     "the server ended every connection at once (does another connection hold its device?)"},
    {ZORVIK_OPEN_OTHER, "", "the system refused to open it"},
}};
// Unknown codes get the last entry's words.
static_assert(kWords.back().failure == ZORVIK_OPEN_OTHER);

}  // namespace

const OpenFailureWords& WordsFor(int failure) {
    for (const OpenFailureWords& words : kWords)
        if (words.failure == failure) return words;
    return kWords.back();
}

std::string CannotOpenText(const std::string& port_name) {
    return "Cannot open " + port_name + " port !";
}

std::string LostPortText(const std::string& port_name) {
    const char* why = serial::is_network_port_name(port_name)
                          ? "the connection to the device server ended"
                          : "the device is gone";
    return "Lost " + port_name + " port: " + why;
}

std::string RateFixedText(const std::string& port_name) {
    return port_name +
           " is a raw TCP port: its rate is the device server's own and cannot follow the "
           "receiver. Open it as rfc2217:// to change the rate or to flash the receiver.";
}

std::string ProgramOpenFailureText(const std::string& port_name, int failure) {
    const std::string reason = WordsFor(failure).program;
    return CannotOpenText(port_name) + (reason.empty() ? "" : "\n" + reason);
}

std::string CommandLineOpenFailureText(const std::string& port_name, int failure) {
    const std::string reason = WordsFor(failure).command_line;
    // Without a name there is no device to name; a network port's name is its address.
    if (failure == ZORVIK_OPEN_NO_NAME || serial::is_network_port_name(port_name))
        return CannotOpenText(port_name) + " (" + reason + ")";
    return CannotOpenText(port_name) + " (" + serial::device_path(port_name) + ": " + reason + ")";
}

}  // namespace zorvik::link
