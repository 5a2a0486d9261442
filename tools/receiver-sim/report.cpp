#include "report.h"

#include <cmath>

namespace sim {

std::string json_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string hex_bytes(const std::uint8_t* data, std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

JsonLine::JsonLine(std::string_view event) {
    text_ = "{\"event\":\"" + json_escape(event) + "\"";
}

void JsonLine::key(std::string_view k) {
    text_ += ",\"" + json_escape(k) + "\":";
}

JsonLine& JsonLine::str(std::string_view k, std::string_view value) {
    key(k);
    text_ += "\"" + json_escape(value) + "\"";
    return *this;
}

JsonLine& JsonLine::num(std::string_view k, long long value) {
    key(k);
    text_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::real(std::string_view k, double value) {
    key(k);
    if (!std::isfinite(value)) {
        text_ += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", value);
    text_ += buf;
    return *this;
}

JsonLine& JsonLine::boolean(std::string_view k, bool value) {
    key(k);
    text_ += value ? "true" : "false";
    return *this;
}

Report::~Report() {
    if (file_) std::fclose(file_);
}

bool Report::open(const std::string& path) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void Report::emit(const JsonLine& line) {
    if (!file_) return;
    const std::string text = line.text();
    std::fprintf(file_, "%s\n", text.c_str());
    std::fflush(file_);
}

}  // namespace sim
