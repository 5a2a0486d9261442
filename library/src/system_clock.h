// The computer's UTC clock as the ephemeris upload reads it. One internal
// source, so that tests can set the time to the second.
#pragma once

#include <functional>

namespace zorvik {

struct UtcTime {
    int year, month, day, hour, minute, second;
};

UtcTime system_utc_now();
// Replaces the clock (tests only); an empty function restores the real one.
void set_system_clock_for_testing(std::function<UtcTime()> source);

}  // namespace zorvik
