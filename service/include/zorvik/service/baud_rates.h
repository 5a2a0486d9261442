// The line rates the receiver speaks, in the order the program's rate lists
// and the command line offer them, with the code its baud-rate command carries.
#pragma once

#include <array>

namespace zorvik::service {

struct BaudRate {
    const char* text;
    int code;
};

inline constexpr std::array<BaudRate, 6> kBaudRates{
    {{"4800", 1}, {"9600", 2}, {"19200", 4}, {"38400", 6}, {"57600", 7}, {"115200", 8}}};

}  // namespace zorvik::service
