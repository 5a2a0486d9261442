#include "ephemeris_fixtures.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "ZorvikDll.h"
#include "zorvik_testing.h"

namespace zorvik::test {

const Bytes kJunk = {0x00, vbi::kSync1, 0x00, 0x41, 0xFF, vbi::kSync1};

std::uint32_t file_time(int year, int month, int day, int hour, int minute, int second) {
    using std::chrono::January;
    using std::chrono::sys_days;
    const sys_days date = std::chrono::year(year) / month / day;
    const sys_days epoch = std::chrono::year(1980) / January / 6;
    const long long s = (date - epoch).count() * 86400LL + hour * 3600LL + minute * 60LL + second;
    return static_cast<std::uint32_t>(s + 315964811LL);
}

Bytes vbi_frame(std::size_t payload, std::uint8_t seed) {
    Bytes f = {vbi::kSync1,
               vbi::kSync2,
               0x10,
               seed,
               static_cast<std::uint8_t>(payload & 0xFF),
               static_cast<std::uint8_t>(payload >> 8),
               0x00,
               0x20};
    for (std::size_t i = 0; i < payload; ++i) {
        auto b = static_cast<std::uint8_t>(seed * 31 + i * 7);
        f.push_back(b == vbi::kSync1 ? 0x80 : b);
    }
    return f;
}

Bytes concat(const std::vector<Bytes>& frames) {
    Bytes out;
    for (const auto& f : frames) out.insert(out.end(), f.begin(), f.end());
    return out;
}

static Bytes with_junk(const std::vector<Bytes>& frames) {
    Bytes out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i > 0) out.insert(out.end(), kJunk.begin(), kJunk.end());
        out.insert(out.end(), frames[i].begin(), frames[i].end());
    }
    return out;
}

Bytes broadcast_file(const std::string& first_line, std::uint32_t time,
                     const std::vector<Bytes>& frames, std::size_t size) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%010u", time);
    const std::string head = first_line + digits + "\r\nBE 4h\r\n";
    Bytes out(head.begin(), head.end());
    const Bytes body = with_junk(frames);
    out.insert(out.end(), body.begin(), body.end());
    if (out.size() > size) throw std::logic_error("broadcast fixture larger than its size");
    out.resize(size, 0x00);
    return out;
}

std::string long_term_header(std::uint32_t time, long byte_count) {
    char text[64];
    std::snprintf(text, sizeof text, "%10u%12s%*ld\r\n", time, "", byte_count > 999 ? 4 : 3,
                  byte_count);
    return text;
}

Bytes long_term_file(const std::vector<LongTermRecord>& records, std::size_t min_size) {
    const std::string first = "LTE 1.0\r\n";
    Bytes out(first.begin(), first.end());
    for (const auto& r : records) {
        Bytes body = with_junk(r.frames);
        const long count = r.byte_count ? r.byte_count : static_cast<long>(body.size());
        if (count >= 0 && body.size() > static_cast<std::size_t>(count))
            throw std::logic_error("long-term record's frames exceed its byte count");
        if (count >= 0) body.resize(static_cast<std::size_t>(count), 0x00);
        const std::string header = long_term_header(r.time, count);
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), body.begin(), body.end());
    }
    if (out.size() < min_size) out.resize(min_size, 0x00);
    return out;
}

void feed_rmc(int year, int month, int day, int hour, int minute, int second) {
    char body[128];
    std::snprintf(body, sizeof body,
                  "GPRMC,%02d%02d%02d.000,A,5321.6802,N,00630.3371,W,0.06,31.66,%02d%02d%02d,,,A",
                  hour, minute, second, day, month, year % 100);
    std::string line = zorvik::nmea::with_checksum(std::string("$") + body, "");
    ParseNMEA(line.data());
}

void forget_rmc() {
    std::lock_guard lock(state_mutex());
    std::memset(state().utc_time, 0, sizeof state().utc_time);
    std::memset(state().utc_date, 0, sizeof state().utc_date);
}

PortCollector::PortCollector(PtyPair& pty) : pty_(pty) {
    thread_ = std::thread([this] {
        while (!stop_) {
            Bytes got = pty_.read_burst(20, 5);
            std::lock_guard lock(m_);
            bytes_.insert(bytes_.end(), got.begin(), got.end());
        }
    });
}

PortCollector::~PortCollector() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

Bytes PortCollector::finish() {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(m_);
    return bytes_;
}

}  // namespace zorvik::test
