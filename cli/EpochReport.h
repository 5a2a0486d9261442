// One epoch of the receiver's state as monitor prints it: a line of text with
// the live view's formats, or a JSON object.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "ZorvikDll.h"

namespace cli {

// The state record's navigation fields in the live view's formats, on one line.
std::string EpochLine(const ParseNMEAInfo& info);
// The same fields as a few labelled lines for a terminal that is refreshed in place.
std::string EpochBlock(const ParseNMEAInfo& info);
// The epoch as a JSON object (keys time, date, valid, fix, lat, lon, alt_m,
// speed_kmh, heading_deg, hdop, vdop, satellites).
nlohmann::ordered_json EpochJson(const ParseNMEAInfo& info);

}  // namespace cli
