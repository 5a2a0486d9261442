// The one rule that turns a failed open into the user's reason. The serial
// layer finds the reason with the failed open itself (COM_LastOpenError hands
// it on); this table words it, once for each program's way of speaking.
#pragma once

#include <string>

namespace zorvik::link {

struct OpenFailureWords {
    int failure;               // a ZORVIK_OPEN_* code
    const char* program;       // the program's line under its message; empty: none
    const char* command_line;  // the command line's phrase after the device
};

// The words for a failure code; an unknown code gets those of ZORVIK_OPEN_OTHER.
const OpenFailureWords& WordsFor(int failure);

// "Cannot open <port> port !", the first words of both programs' message.
std::string CannotOpenText(const std::string& port_name);
// The command line's words for a port lost while open (a receiver pulled, a
// device server's connection ended).
std::string LostPortText(const std::string& port_name);
// Why a rate change (the baud-rate exchange, a flash) is refused on a raw
// tcp:// port before anything is sent.
std::string RateFixedText(const std::string& port_name);
// The program's message box text: the first words, then the reason on a line
// of its own where there is one.
std::string ProgramOpenFailureText(const std::string& port_name, int failure);
// The command line's one line: the first words, then in brackets the device
// behind the name and the reason.
std::string CommandLineOpenFailureText(const std::string& port_name, int failure);

}  // namespace zorvik::link
