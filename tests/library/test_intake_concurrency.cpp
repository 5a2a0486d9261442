// The intake under load from several threads (meant for the tsan preset):
// the reader thread parses the receiver logs in a loop and meets baud-rate
// acknowledgements; the GUI side takes snapshots, derives the channel states
// and sends commands to a real pty. No snapshot may be torn, and every
// sentence on the wire must be whole with a valid checksum.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ZorvikDll.h"
#include "pty_pair.h"
#include "zorvik_testing.h"

namespace {

namespace fs = std::filesystem;
using zorvik::test::PtyPair;

std::vector<std::string> corpus() {
    std::vector<std::string> lines;
    const fs::path dir = ZORVIK_NMEA_LOG_DIR;
    if (!fs::is_directory(dir)) return lines;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() != ".nmea") continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            if (!line.empty() && line[0] == '$' && line.size() < 500) lines.push_back(line);
        }
    }
    return lines;
}

// (time, latitude, date) of every RMC line: a snapshot must show one of them
// whole, never a mix of two sentences.
std::set<std::tuple<std::string, std::string, std::string>> rmc_triples(
    const std::vector<std::string>& lines) {
    std::set<std::tuple<std::string, std::string, std::string>> out{{"", "", ""}};
    for (const std::string& l : lines) {
        if (l.rfind("$GPRMC,", 0) != 0) continue;
        std::vector<std::string> f;
        std::size_t b = 7;
        for (;;) {
            const std::size_t e = l.find_first_of(",*", b);
            f.push_back(l.substr(b, e == std::string::npos ? std::string::npos : e - b));
            if (e == std::string::npos || l[e] == '*') break;
            b = e + 1;
        }
        if (f.size() >= 9) out.emplace(f[0], f[2].substr(0, 11), f[8].substr(0, 9));
    }
    return out;
}

TEST(IntakeConcurrency, ParsingSnapshotsAndCommandsInterleaveSafely) {
    const std::vector<std::string> lines = corpus();
    if (lines.empty()) GTEST_SKIP() << "no receiver logs";
    const auto triples = rmc_triples(lines);

    PtyPair pty;
    ASSERT_NE(COM_Open(pty.slave_path().c_str(), "115200"), 0);
    pty.drain();

    std::atomic<bool> stop{false};
    std::string wire;
    std::thread drain([&] {
        while (!stop.load()) {
            const auto bytes = pty.read_burst(100, 20);
            wire.append(bytes.begin(), bytes.end());
        }
    });

    std::thread reader([&] {
        for (int pass = 0; pass < 3; ++pass) {
            int n = 0;
            for (const std::string& line : lines) {
                char buf[500] = {};
                std::memcpy(buf, line.data(), line.size());
                ParseNMEA(buf);
                if (++n % 64 == 0) {
                    char ack[] = "$PKVX200,9,1*00";
                    ParseNMEA(ack);  // sends the second baud step when armed
                }
            }
        }
    });

    std::atomic<int> torn{0}, snapshots{0};
    std::thread gui([&] {
        const std::string text = "$PMYCMD,1,2,3*";
        for (int i = 0; i < 400; ++i) {
            ParseNMEAInfo s;
            GetParseNMEAInfo(&s);
            ++snapshots;
            if (!triples.count({s.utc_time, s.latitude, s.utc_date})) ++torn;
            GetChStatus();
            sort_sv_cn();
            CMD_Clear_parse_gsv_done();
            CMD_Clear_NMEA09_2ndCommmand_done();  // re-arm the follow-up
            CheckSum(text.c_str());
            CMD_SendNMEACommand(text.c_str(), static_cast<int>(text.size()));
            CMD_Set_BuadRate(i % 9);
            CMD_HotStart();
        }
    });

    reader.join();
    gui.join();
    // Let the last bytes arrive, then stop the drain.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    drain.join();
    const auto rest = pty.read_burst(200, 50);
    wire.append(rest.begin(), rest.end());
    COM_Close();

    EXPECT_EQ(torn.load(), 0) << "of " << snapshots.load() << " snapshots";
    int sentences = 0, second_steps = 0, commands = 0;
    std::size_t b = 0;
    while (b < wire.size()) {
        const std::size_t e = wire.find("\r\n", b);
        ASSERT_NE(e, std::string::npos) << "a sentence without its line end: " << wire.substr(b);
        const std::string s = wire.substr(b, e - b);
        EXPECT_TRUE(zorvik::nmea::sentence_checksum_ok(s)) << s;
        ++sentences;
        if (s == "$PKVX09,,*1C") ++second_steps;
        if (s == "$PMYCMD,1,2,3*12") ++commands;
        b = e + 2;
    }
    EXPECT_EQ(sentences, 3 * 400 + second_steps);  // three commands per round
    EXPECT_EQ(commands, 400);
    EXPECT_GT(second_steps, 0);
}

}  // namespace
