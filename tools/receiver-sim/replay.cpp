#include "replay.h"

#include <cstdint>
#include <fstream>

namespace sim {

namespace {

// A recording is text of a few megabytes at most; anything far larger is not one.
constexpr std::uintmax_t kMaxRecordingBytes = 64u << 20;

// "RMC" of "$GPRMC,..." (the three letters after a two-letter talker).
std::string_view sentence_type(std::string_view line) {
    if (line.size() < 7 || line[0] != '$' || line[6] != ',') return {};
    return line.substr(3, 3);
}

// Field `index` (0 = the address field) of a sentence, without the checksum.
std::string_view field(std::string_view line, int index) {
    const std::size_t star = line.find('*');
    if (star != std::string_view::npos) line = line.substr(0, star);
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.find(',', start);
        if (start == std::string_view::npos) return {};
        ++start;
    }
    const std::size_t end = line.find(',', start);
    return line.substr(start, end == std::string_view::npos ? line.size() - start : end - start);
}

// "$...*hh" with nothing after the checksum digits.
bool whole_sentence(std::string_view line) {
    return line.size() >= 4 && line[0] == '$' && line[line.size() - 3] == '*';
}

// Groups lines into epochs: an epoch ends where the time field changes, or at
// a second RMC when the receiver sends no time (no fix yet).
class EpochSplitter {
  public:
    void add(std::string line) {
        const std::string_view content =
            std::string_view(line).substr(0, line.find_first_of("\r\n"));
        const bool rmc = sentence_type(content) == "RMC";
        const std::string time = sentence_time(content);
        if (!current_.empty()) {
            const bool time_changed = !time.empty() && !time_.empty() && time != time_;
            if (time_changed || (rmc && has_rmc_)) Flush();
        }
        if (time_.empty()) time_ = time;
        has_rmc_ = has_rmc_ || rmc;
        current_.push_back(std::move(line));
    }
    std::vector<Recording::Epoch> finish() {
        Flush();
        return std::move(epochs_);
    }

  private:
    void Flush() {
        if (!current_.empty()) epochs_.push_back(std::move(current_));
        current_.clear();
        time_.clear();
        has_rmc_ = false;
    }
    std::vector<Recording::Epoch> epochs_;
    Recording::Epoch current_;
    std::string time_;
    bool has_rmc_ = false;
};

}  // namespace

std::string sentence_time(std::string_view line) {
    const std::string_view type = sentence_type(line);
    int index = 0;
    if (type == "RMC" || type == "GGA" || type == "ZDA" || type == "GNS" || type == "GST" ||
        type == "GBS" || type == "GRS") {
        index = 1;
    } else if (type == "GLL") {
        index = 5;
    } else {
        return {};
    }
    return std::string(field(line, index));
}

Recording Recording::from_text(std::string_view text) {
    EpochSplitter splitter;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        const bool ended = lf != std::string_view::npos;
        std::string_view line = text.substr(pos, ended ? lf + 1 - pos : text.size() - pos);
        pos += line.size();
        const std::string_view content = line.substr(0, line.find_first_of("\r\n"));
        if (content.empty() || content[0] != '$') continue;
        if (ended) {
            splitter.add(std::string(line));
        } else if (whole_sentence(content)) {
            splitter.add(std::string(content) + "\r\n");
        }
    }
    Recording r;
    r.epochs_ = splitter.finish();
    return r;
}

bool Recording::load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read recording " + path;
        return false;
    }
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxRecordingBytes) {
            error = "recording " + path + " is too large";
            return false;
        }
    }
    *this = from_text(text);
    if (epochs_.empty()) {
        error = "recording " + path + " holds no NMEA sentence";
        return false;
    }
    return true;
}

std::size_t Recording::line_count() const {
    std::size_t n = 0;
    for (const Epoch& e : epochs_) n += e.size();
    return n;
}

}  // namespace sim
