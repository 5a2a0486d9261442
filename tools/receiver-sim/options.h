// Command line of the receiver simulator.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct Faults {
    bool garbage = false;              // bytes between sentences
    bool badsum = false;               // some wrong checksums
    bool bitflip = false;              // one bit hit in some sentences, checksum as sent
    bool longline = false;             // an over-long line now and then
    bool burst = false;                // one burst larger than the driver's queue
    bool silent = false;               // send nothing at all
    bool no_nak = false;               // the boot loader never asks for data
    int vanish_after_blocks = -1;      // exit abruptly once this many blocks are in
    double vanish_after_seconds = -1;  // exit abruptly after this long
    double deaf_after_seconds = -1;    // stop reading the port after this long, so that
                                       // the other end's writes back up and block
};

struct Options {
    std::string port_name = "COM1";
    std::string registry_dir;  // empty: the user's own registry
    bool do_register = true;
    std::string tty;  // empty: create a pseudo-terminal
    int baud = 9600;
    double time_scale = 1.0;
    std::string report;
    std::string image_out;
    Faults faults;
    std::uint32_t seed = 1;
    bool exit_with_parent = false;
    std::string customer_version = "ZRV-STD-0105";
    double erase_seconds = 2.0;    // simulated, before time scale
    double loader_timeout = 60.0;  // real seconds the boot loader waits before giving up
    std::string replay;            // a recorded session to play instead of the sky model
    bool replay_loop = false;      // start the recording again at its end
};

// Parses argv into out. Returns -1 to go on, or the status to exit with once
// help has been printed (0) or a wrong command line explained (2).
int parse_options(int argc, char** argv, Options& out);

}  // namespace sim
