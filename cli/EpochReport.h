// One epoch of the receiver's state as monitor prints it: a line of text with
// the live view's formats, or a JSON object.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "EpochCollector.h"

namespace cli {

// Only what came in the epoch's own sentences is shown: the fields of a kind
// it lacks are left out (null in JSON), never taken from an earlier epoch.

// The epoch's navigation fields in the live view's formats, on one line.
std::string EpochLine(const zorvik::link::Epoch& epoch);
// The same fields as a few labelled lines for a terminal that is refreshed in place.
std::string EpochBlock(const zorvik::link::Epoch& epoch);
// The epoch as a JSON object (keys time, date, valid, fix, lat, lon, alt_m,
// speed_kmh, heading_deg, hdop, vdop, satellites, checksum_dropped).
nlohmann::ordered_json EpochJson(const zorvik::link::Epoch& epoch);

}  // namespace cli
