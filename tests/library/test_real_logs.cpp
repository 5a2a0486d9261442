// Real receiver logs, fed line by line the way the reader thread delivers
// them (line end cut, 500-byte zero-filled buffer), checked after every
// sentence against an independent decoder's reading of the same line.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "zorvik_testing.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Every record of a JSON-lines file, in order; a line that is not JSON fails
// the test and is skipped.
std::vector<Json> read_jsonl(const fs::path& path) {
    std::vector<Json> records;
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line == "\r") continue;
        Json record = Json::parse(line, nullptr, false);
        EXPECT_FALSE(record.is_discarded()) << path << ":" << number << " is not JSON";
        if (!record.is_discarded()) records.push_back(std::move(record));
    }
    return records;
}

// A field of the reference decode as written (a text as it is, anything else
// in its JSON form); nullopt when the record has no such field.
std::optional<std::string> field(const Json& record, const std::string& key) {
    const auto fields = record.find("fields");
    if (fields == record.end() || !fields->is_object()) return std::nullopt;
    const auto value = fields->find(key);
    if (value == fields->end()) return std::nullopt;
    return value->is_string() ? value->get<std::string>() : value->dump();
}

ParseNMEAInfo snapshot() {
    ParseNMEAInfo info;
    GetParseNMEAInfo(&info);
    return info;
}

std::vector<std::string> log_lines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string cut(const std::string& s, std::size_t max) {
    return s.substr(0, std::min(s.size(), max));
}

int int_or_zero(const std::optional<std::string>& s) {
    if (!s || s->empty()) return 0;
    return std::stoi(*s);
}

float float_or_zero(const std::optional<std::string>& s) {
    if (!s || s->empty()) return 0.0f;
    return std::stof(*s);
}

// The channel table that a complete GSV group should leave, built from the
// reference decode: satellite k of message m in channel (m-1)*4+k, SBAS
// numbers above 32 plus 87, empty fields as 0 with the position marked
// missing.
struct Table {
    int prn[12] = {}, el[12] = {}, az[12] = {}, snr[12] = {}, missing[12] = {};
};

void apply_gsv(const Json& r, Table& t) {
    const int msg = int_or_zero(field(r, "msg_num"));
    if (msg == 1) t = Table{};
    if (msg < 1 || msg > 3) return;
    for (int k = 1; k <= 4; ++k) {
        const auto prn = field(r, "sv_prn_num_" + std::to_string(k));
        if (!prn) break;
        const int ch = (msg - 1) * 4 + k - 1;
        t.prn[ch] = int_or_zero(prn);
        if (t.prn[ch] > 32) t.prn[ch] += 87;
        const auto el = field(r, "elevation_deg_" + std::to_string(k));
        const auto az = field(r, "azimuth_" + std::to_string(k));
        t.el[ch] = int_or_zero(el);
        t.az[ch] = int_or_zero(az);
        t.missing[ch] = (!el || el->empty() || !az || az->empty()) ? 1 : 0;
        t.snr[ch] = int_or_zero(field(r, "snr_" + std::to_string(k)));
    }
}

struct Counts {
    int rmc = 0, gga = 0, gsa = 0, groups = 0, rejected = 0;
};

void check_log(const fs::path& nmea, Counts& counts) {
    fs::path ref = nmea;
    ref.replace_extension(".reference.jsonl");
    std::map<int, Json> by_line;
    for (Json& r : read_jsonl(ref)) {
        const int line = r.at("line").get<int>();
        by_line[line] = std::move(r);
    }
    ASSERT_FALSE(by_line.empty()) << ref;

    zorvik::testing::reset_record();
    Table table;
    const std::vector<std::string> lines = log_lines(nmea);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const int number = static_cast<int>(i) + 1;
        SCOPED_TRACE(nmea.filename().string() + ":" + std::to_string(number) + " " + line);
        if (line.empty() || line[0] != '$' || line.size() > 499) continue;
        char buffer[500] = {};
        std::memcpy(buffer, line.data(), line.size());
        ParseNMEA(buffer);

        auto it = by_line.find(number);
        if (it == by_line.end()) continue;
        const Json& r = it->second;
        const std::string type = r.value("type", "");
        const ParseNMEAInfo s = snapshot();
        if (r.contains("error")) {
            // The reference rejects the line (its checksum); our intake
            // parses it anyway, since the gate is off from load.
            ++counts.rejected;
            if (type == "GPRMC") {
                EXPECT_EQ(s.parse_rmc_done, 1);
            }
            CMD_Clear_parse_rmc_done();
            continue;
        }
        auto f = [&](const char* key) { return field(r, key).value_or(""); };
        if (type == "GPRMC") {
            ++counts.rmc;
            EXPECT_STREQ(s.utc_time, cut(f("timestamp"), 29).c_str());
            EXPECT_EQ(s.rmc_status, f("status").empty() ? '\0' : f("status")[0]);
            EXPECT_STREQ(s.latitude, cut(f("lat"), 11).c_str());
            EXPECT_EQ(s.lat_hemisphere, f("lat_dir").empty() ? '\0' : f("lat_dir")[0]);
            EXPECT_STREQ(s.longitude, cut(f("lon"), 19).c_str());
            EXPECT_EQ(s.lon_hemisphere, f("lon_dir").empty() ? '\0' : f("lon_dir")[0]);
            EXPECT_STREQ(s.speed, cut(f("spd_over_grnd"), 11).c_str());
            EXPECT_STREQ(s.course, cut(f("true_course"), 11).c_str());
            EXPECT_STREQ(s.utc_date, cut(f("datestamp"), 9).c_str());
            EXPECT_EQ(s.parse_rmc_done, 1);
        } else if (type == "GPGGA") {
            ++counts.gga;
            EXPECT_STREQ(s.altitude, cut(f("altitude"), 10).c_str());
        } else if (type == "GPGSA") {
            ++counts.gsa;
            EXPECT_EQ(s.fix_mode, int_or_zero(field(r, "mode_fix_type")));
            for (int k = 0; k < 12; ++k) {
                char key[16];
                std::snprintf(key, sizeof key, "sv_id%02d", k + 1);
                EXPECT_EQ(s.sv_used[k], int_or_zero(field(r, key))) << key;
            }
            EXPECT_FLOAT_EQ(s.pdop, float_or_zero(field(r, "pdop")));
            EXPECT_FLOAT_EQ(s.hdop, float_or_zero(field(r, "hdop")));
            EXPECT_FLOAT_EQ(s.vdop, float_or_zero(field(r, "vdop")));
        } else if (type == "GPGSV") {
            apply_gsv(r, table);
            const int msg = int_or_zero(field(r, "msg_num"));
            if (msg != int_or_zero(field(r, "num_messages"))) continue;
            ++counts.groups;
            EXPECT_EQ(s.parse_gsv_done, 1);
            CMD_Clear_parse_gsv_done();
            for (int c = 0; c < 12; ++c) {
                EXPECT_EQ(s.sv_prn[c], table.prn[c]) << "channel " << c;
                EXPECT_EQ(s.sv_elevation[c], table.el[c]) << "channel " << c;
                EXPECT_EQ(s.sv_azimuth[c], table.az[c]) << "channel " << c;
                EXPECT_EQ(s.sv_snr[c], table.snr[c]) << "channel " << c;
                EXPECT_EQ(s.sv_pos_missing[c], table.missing[c]) << "channel " << c;
            }
        }
    }
}

TEST(RealLogs, EverySentenceMatchesTheReference) {
    const fs::path dir = ZORVIK_NMEA_LOG_DIR;
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no receiver logs at " << dir;
    std::vector<fs::path> logs;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".nmea") logs.push_back(e.path());
    }
    std::sort(logs.begin(), logs.end());
    ASSERT_FALSE(logs.empty());
    Counts counts;
    for (const fs::path& log : logs) check_log(log, counts);
    // The six logs hold some hundreds of each kind; a reader that stopped
    // early would show here.
    EXPECT_GT(counts.rmc, 300);
    EXPECT_GT(counts.gga, 300);
    EXPECT_GT(counts.gsa, 300);
    EXPECT_GT(counts.groups, 150);
    std::printf(
        "compared %d RMC, %d GGA, %d GSA, %d GSV groups; %d lines rejected by the reference\n",
        counts.rmc, counts.gga, counts.gsa, counts.groups, counts.rejected);
}

}  // namespace
