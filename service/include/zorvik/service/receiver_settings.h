// What the program's command dialogs offer and the command line takes: the
// output sentences and the switch values of the sentence command, and the
// warnings given for a command text, a satellite id or a rate that cannot be sent.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "zorvik/service/baud_rates.h"

namespace zorvik::service {

// The sentence list; the position is the command's sentence number.
inline constexpr std::array<const char*, 8> kSentenceNames{"RMC", "GGA", "GLL", "GSA",
                                                           "GSV", "ALM", "VTG", "ZDA"};
// The switch list "1 - ON", "0 - OFF": the position is the command's value.
inline constexpr int kSwitchOn = 0;
inline constexpr int kSwitchOff = 1;

inline constexpr const char* kCommandLineWarning = "Please key in '$.......,*'";
inline constexpr const char* kSvIdWarning = "Please key-in correct SV Id!";

// The receiver's rates as a sentence names them: "4800, 9600, ... or 115200".
inline std::string BaudRateNames() {
    std::string names;
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (i > 0) names += i + 1 < kBaudRates.size() ? ", " : " or ";
        names += kBaudRates[i].text;
    }
    return names;
}

// A rate outside the list has no command code, and the receiver would move
// to a rate nobody follows.
inline std::string BaudRateWarning() {
    return "Please choose a baud rate of " + BaudRateNames() + "!";
}

}  // namespace zorvik::service
