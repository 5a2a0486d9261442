// Recorded sessions for the simulator's replay mode: the NMEA lines of a
// capture or a log, grouped into the epochs the receiver sent them in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Recording {
  public:
    using Epoch = std::vector<std::string>;  // lines, each with its own line end

    // Reads a file; false with a reason when it cannot be read or holds no
    // NMEA line.
    bool load(const std::string& path, std::string& error);
    // Splits text into epochs. Only lines starting with '$' count (a log's
    // comments and blank lines do not); each keeps its CR LF or LF. A last
    // line without a line end is kept (with CR LF) only when it is a whole
    // sentence, so a capture cut mid-line does not replay half a sentence.
    static Recording from_text(std::string_view text);

    const std::vector<Epoch>& epochs() const { return epochs_; }
    std::size_t line_count() const;

  private:
    std::vector<Epoch> epochs_;
};

// The time field of a sentence that has one (RMC, GGA, GLL, ZDA, GNS, GST,
// GBS, GRS), empty otherwise or when the field is empty.
std::string sentence_time(std::string_view line);

}  // namespace sim
