// The open port and the sentences that arrive on it, through the link module
// the program's reader uses too: each complete sentence goes into ParseNMEA
// and then to the command's handler. Commands go out through the library
// between two reads, so nothing runs concurrently.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "EpochCollector.h"
#include "LineReader.h"
#include "PortLink.h"
#include "ZorvikDll.h"

namespace cli {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// One received sentence: `raw` exactly as it came, line end included;
// `text` as ParseNMEA took it (line end cut off).
struct Sentence {
    std::string_view raw;
    std::string_view text;
};

using zorvik::link::Next;

class ReceiverLink {
  public:
    // Opens the port; throws Failure saying which port and why not.
    ReceiverLink(std::string port_name, std::string baud_text);
    ~ReceiverLink();
    ReceiverLink(const ReceiverLink&) = delete;
    ReceiverLink& operator=(const ReceiverLink&) = delete;

    // Follows the receiver to another rate once it has switched: closes the
    // port (letting written output drain) and opens it at baud_text.
    void FollowRateChange(const std::string& baud_text);
    // Closes the port (letting written output drain) and opens it again at
    // another rate, the receiver's rate unchanged (listening for it).
    void Reopen(const std::string& baud_text);
    const std::string& PortName() const { return port_name_; }
    const std::string& BaudText() const { return baud_text_; }

    using SentenceHandler = std::function<Next(const Sentence&)>;
    using IdleHandler = std::function<Next()>;
    // Reads until `timeout` has passed, a handler returns Stop, or Ctrl-C.
    // Each sentence goes through Epochs() (into ParseNMEA when its checksum
    // holds), then to on_sentence whatever its checksum; on_idle runs
    // whenever a read found the line quiet (100 ms). Returns true when a
    // handler stopped it. Throws Failure when the device goes away.
    bool Pump(Seconds timeout, const SentenceHandler& on_sentence,
              const IdleHandler& on_idle = nullptr);

    // The epochs of what was read since the port was last opened or purged.
    zorvik::link::EpochCollector& Epochs() { return epochs_; }

    // Reads until the state record satisfies `done` or `timeout` passes.
    bool WaitFor(Seconds timeout, const std::function<bool(const ParseNMEAInfo&)>& done);

    // Drops what the port received before now: bytes that came in at the
    // line's earlier setting say nothing about the receiver's rate.
    void DiscardReceived();

  private:
    void Opened(const zorvik::link::OpenResult& result);

    std::string port_name_;
    std::string baud_text_;
    int handle_ = 0;
    // Recordings must be whole: no backlog is dropped.
    zorvik::link::LineReader reader_{zorvik::link::LineReader::Backlog::Keep};
    zorvik::link::EpochCollector epochs_;
};

ParseNMEAInfo StateRecord();

// Reads a positive number of seconds given on the command line.
Seconds SecondsOption(double seconds);

}  // namespace cli
