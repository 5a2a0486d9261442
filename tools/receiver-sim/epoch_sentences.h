// The sentences of one epoch, built from the sky model's Epoch.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sky_model.h"

namespace sim {

// Output sentence numbers of the sentence selection command.
enum Sentence { kRMC = 0, kGGA, kGLL, kGSA, kGSV, kALM, kVTG, kZDA, kSentenceCount };

struct OutputSelection {
    std::array<bool, kSentenceCount> on{true, true, false, true, true, false, false, false};
};

std::string rmc_body(const Epoch& e);
std::string gga_body(const Epoch& e);
std::string gsa_body(const Epoch& e);
std::vector<std::string> gsv_bodies(const Epoch& e);  // a group of 1 to 3 messages
std::string gll_body(const Epoch& e);
std::string vtg_body(const Epoch& e);
std::string zda_body(const Epoch& e);

// Bodies of the epoch's sentences in transmission order: RMC, GGA, GSA, the
// GSV group, then GLL, VTG and ZDA where switched on.
std::vector<std::string> epoch_bodies(const Epoch& e, const OutputSelection& selection);

}  // namespace sim
