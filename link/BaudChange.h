// Following the receiver to a new line rate. The program (its baud-rate
// dialog, Timer1Timer and Timer2Timer) and the command line (baud) take the
// same steps; only what happens between them differs:
//   1. SendRateCommand: the exchange's first step goes out at the old rate.
//   2. The receiver acknowledges; the library's intake writes the second step
//      by itself and raises NMEA09_2ndCommmand_done: RateSwitched turns true.
//      Until then nothing may claim the new rate; without an acknowledgement
//      within kRateAcknowledgementTime the receiver did not take it.
//   3. LeaveOldRate: the flag is cleared and the port closed; the close lets
//      the second step leave at the old rate first.
//   4. OpenAtNewRate: what was received at the old rate is forgotten and the
//      port opened at the new rate.
#pragma once

#include <chrono>
#include <string>

#include "PortLink.h"
#include "ZorvikDll.h"

namespace zorvik::link {

// The receiver acknowledges a rate command well within a second; this leaves
// room for a loaded machine and a slow line.
inline constexpr std::chrono::milliseconds kRateAcknowledgementTime{3000};

// Clears the acknowledgement flag, then writes the rate command with its code
// (the receiver's code for the rate, not the rate). Cleared first, so that a
// quick acknowledgement cannot be lost. Returns what CMD_Set_BuadRate returned.
int SendRateCommand(int code);

bool RateSwitched(const ParseNMEAInfo& record);

void LeaveOldRate();

// False for a port whose rate is the device server's own (tcp://): the
// exchange, a flash or a rate search are refused there before anything is sent.
bool RateFollows(const std::string& port_name);

// Clears the RMC, GSV and GSA flags, then opens port_name at baud_text.
OpenResult OpenAtNewRate(const std::string& port_name, const std::string& baud_text);

}  // namespace zorvik::link
