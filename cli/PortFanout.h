// Several ports in one call: this same program once per port, each in a
// process of its own (the library holds one port per process), with their
// output relayed line by line and the port in front of each text line.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The arguments (without the program's name) less every -p/--port and its value.
std::vector<std::string> WithoutPortOptions(const std::vector<std::string>& args);

struct FanoutRequest {
    std::vector<std::string> ports;
    std::vector<std::string> args;   // WithoutPortOptions of the command line
    std::vector<std::string> extra;  // options the relay adds for every port
    bool json = false;
};

// Runs one process per port and relays their output: "PORT: " in front of
// each line, except JSON lines, which name their port themselves. SIGINT and
// SIGTERM are passed on to every process. Returns the call's exit status: 0
// when every port succeeded, 130 or 143 when a stop signal cancelled, else 1.
int RunOnEachPort(const FanoutRequest& request);

}  // namespace cli
