// What the program's command dialogs offer and the command line takes: the
// output sentences and the switch values of the sentence command, and the
// warnings given for a command text or a satellite id that cannot be sent.
#pragma once

#include <array>

namespace zorvik::service {

// The sentence list; the position is the command's sentence number.
inline constexpr std::array<const char*, 8> kSentenceNames{"RMC", "GGA", "GLL", "GSA",
                                                           "GSV", "ALM", "VTG", "ZDA"};
// The switch list "1 - ON", "0 - OFF": the position is the command's value.
inline constexpr int kSwitchOn = 0;
inline constexpr int kSwitchOff = 1;

inline constexpr const char* kCommandLineWarning = "Please key in '$.......,*'";
inline constexpr const char* kSvIdWarning = "Please key-in correct SV Id!";

}  // namespace zorvik::service
