// The library's one receiver state record and the lock that makes the parsing
// of one line and a snapshot mutually exclusive.
//
// Lock order: a command's lock (commands.h) may be held while taking the
// state lock, never the other way round.
#pragma once

#include <mutex>

#include "ZorvikDll.h"

namespace zorvik {

ParseNMEAInfo& state();
std::mutex& state_mutex();

// Clock fields of the receiver's last RMC time (or of the computer's clock,
// set by the ephemeris upload), and the last GetGPSTime result.
struct ClockFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    unsigned gps_seconds = 0;
};
ClockFields& clock_fields();

}  // namespace zorvik
