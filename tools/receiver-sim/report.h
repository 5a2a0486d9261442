// The simulator's report: one JSON object per line, appended and flushed line
// by line, so that a test can read it while the simulator runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

class JsonLine {
  public:
    explicit JsonLine(std::string_view event);
    JsonLine& str(std::string_view key, std::string_view value);
    JsonLine& num(std::string_view key, long long value);
    JsonLine& real(std::string_view key, double value);
    JsonLine& boolean(std::string_view key, bool value);
    std::string text() const { return text_ + "}"; }

  private:
    void key(std::string_view k);
    std::string text_;
};

// JSON string escaping; bytes outside printable ASCII become \u00XX.
std::string json_escape(std::string_view s);
std::string hex_bytes(const std::uint8_t* data, std::size_t n);

class Report {
  public:
    Report() = default;
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    bool open(const std::string& path);  // empty path: no report
    void emit(const JsonLine& line);

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace sim
