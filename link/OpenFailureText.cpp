#include "OpenFailureText.h"

#include <array>

#include "ZorvikDll.h"
#include "serial_port.h"

namespace zorvik::link {

namespace {

constexpr std::array<OpenFailureWords, 7> kWords{{
    {ZORVIK_OPEN_OK, "", ""},
    {ZORVIK_OPEN_NO_NAME, "No port is chosen: choose one with Mode, Setup COM Port.",
     "no port name given"},
    {ZORVIK_OPEN_ABSENT, "The device does not exist.", "no such device"},
    {ZORVIK_OPEN_NO_PERMISSION,
     "No permission to use the device: the user must be in the dialout group.",
     "permission denied (is the user in the dialout group?)"},
    {ZORVIK_OPEN_HELD, "The port is held by another program.", "in use by another program"},
    {ZORVIK_OPEN_NOT_SERIAL, "The device is not a serial port.", "not a serial port"},
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

std::string ProgramOpenFailureText(const std::string& port_name, int failure) {
    const std::string reason = WordsFor(failure).program;
    return CannotOpenText(port_name) + (reason.empty() ? "" : "\n" + reason);
}

std::string CommandLineOpenFailureText(const std::string& port_name, int failure) {
    const std::string reason = WordsFor(failure).command_line;
    // Without a name there is no device to name.
    if (failure == ZORVIK_OPEN_NO_NAME) return CannotOpenText(port_name) + " (" + reason + ")";
    return CannotOpenText(port_name) + " (" + serial::device_path(port_name) + ": " + reason + ")";
}

}  // namespace zorvik::link
