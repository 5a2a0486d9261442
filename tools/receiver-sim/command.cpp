#include "command.h"

#include <vector>

#include "nmea.h"

namespace sim {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<std::string_view> split(std::string_view body) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = body.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(body.substr(start));
            return fields;
        }
        fields.push_back(body.substr(start, comma - start));
        start = comma + 1;
    }
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

void classify(const std::vector<std::string_view>& f, Command& cmd) {
    const std::string_view code = f[0];
    const std::size_t n = f.size();
    if (code == "PKVX14") {
        cmd.kind = CommandKind::FirmwareVersion;
    } else if (code == "PKVX28") {
        if (n == 2 && f[1] == "00") cmd.kind = CommandKind::CustomerVersion;
    } else if (code == "PKVX02") {
        if (n == 2 && f[1] == "5C") cmd.kind = CommandKind::ColdStart;
        if (n == 2 && f[1] == "48") cmd.kind = CommandKind::WarmStart;
        if (n == 2 && f[1] == "8") cmd.kind = CommandKind::HotStart;
    } else if (code == "PKVX09") {
        if (n == 3 && f[1] == "2" && f[2].size() == 1 && is_digit(f[2][0])) {
            cmd.kind = CommandKind::BaudFirstStep;
            cmd.baud_code = f[2][0] - '0';
        } else if (n == 3 && f[1].empty() && f[2].empty()) {
            cmd.kind = CommandKind::BaudSecondStep;
        }
    } else if (code == "PKVX12") {
        // "$PKVX12,<s>,<m>," (the trailing field is empty); accept it without the last comma too.
        const bool shape = (n == 4 && f[3].empty()) || n == 3;
        if (shape && f[1].size() == 1 && f[1][0] >= '0' && f[1][0] <= '7' && f[2].size() == 1 &&
            (f[2][0] == '4' || f[2][0] == '0')) {
            cmd.kind = CommandKind::SelectSentence;
            cmd.sentence = f[1][0] - '0';
            cmd.sentence_on = f[2][0] == '4';
        }
    } else if (code == "PKVX08") {
        if (n == 2 && f[1].size() == 2 && is_digit(f[1][0]) && is_digit(f[1][1])) {
            const int prn = (f[1][0] - '0') * 10 + (f[1][1] - '0');
            if (prn >= 1) {
                cmd.kind = CommandKind::SingleChannelEnter;
                cmd.prn = prn;
            }
        } else if (n == 3 && f[1].empty() && f[2].empty()) {
            cmd.kind = CommandKind::SingleChannelExit;
        }
    } else if (code == "PKVX11") {
        if (n == 6 && f[1] == "1" && f[2] == "0" && f[4] == "2" && f[5].size() == 1) {
            const char d = f[5][0];
            if (f[3] == "6" && d >= '0' && d <= '4') {
                cmd.kind = CommandKind::Programming;
                cmd.target = d - '0';
            } else if (f[3] == "1" && d == '0') {
                cmd.kind = CommandKind::VbiInput;
            }
        }
    }
}

}  // namespace

Command parse_command(std::string_view line) {
    Command cmd;
    if (line.size() < 4 || line[0] != '$') return cmd;
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos || star + 3 != line.size()) return cmd;
    const int hi = hex_value(line[star + 1]);
    const int lo = hex_value(line[star + 2]);
    if (hi < 0 || lo < 0) return cmd;
    cmd.framed = true;
    const std::string_view body = line.substr(1, star - 1);
    cmd.checksum_ok = nmea::checksum(body) == ((hi << 4) | lo);
    if (!cmd.checksum_ok) return cmd;
    classify(split(body), cmd);
    return cmd;
}

int baud_for_code(int code) {
    switch (code) {
        case 1:
            return 4800;
        case 2:
            return 9600;
        case 4:
            return 19200;
        case 6:
            return 38400;
        case 7:
            return 57600;
        case 8:
            return 115200;
        default:
            return 0;
    }
}

const char* command_name(CommandKind kind) {
    switch (kind) {
        case CommandKind::Unknown:
            return "unknown";
        case CommandKind::FirmwareVersion:
            return "firmware-version";
        case CommandKind::CustomerVersion:
            return "customer-version";
        case CommandKind::ColdStart:
            return "cold-start";
        case CommandKind::WarmStart:
            return "warm-start";
        case CommandKind::HotStart:
            return "hot-start";
        case CommandKind::BaudFirstStep:
            return "baud-first-step";
        case CommandKind::BaudSecondStep:
            return "baud-second-step";
        case CommandKind::SelectSentence:
            return "select-sentence";
        case CommandKind::SingleChannelEnter:
            return "single-channel-enter";
        case CommandKind::SingleChannelExit:
            return "single-channel-exit";
        case CommandKind::Programming:
            return "programming";
        case CommandKind::VbiInput:
            return "vbi-input";
    }
    return "unknown";
}

bool LineAssembler::push(std::uint8_t b) {
    if (b == '$') {
        if (in_line_ && !line_.empty()) ++dropped_;  // abandoned partial line
        line_.assign(1, '$');
        in_line_ = true;
        overflow_ = false;
        return false;
    }
    if (!in_line_) return false;
    if (b == '\n') {
        in_line_ = false;
        if (overflow_) {
            ++dropped_;
            line_.clear();
            return false;
        }
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        done_ = std::move(line_);
        line_.clear();
        return true;
    }
    if (overflow_) return false;
    if (line_.size() >= max_) {
        overflow_ = true;
        line_.clear();
        return false;
    }
    line_.push_back(static_cast<char>(b));
    return false;
}

std::string LineAssembler::take() {
    return std::move(done_);
}

void LineAssembler::reset() {
    line_.clear();
    in_line_ = false;
    overflow_ = false;
}

}  // namespace sim
