// The one road of a received line into the library, and the epochs gathered
// from it: which lines are acted on, when a sky (a whole GSV group with its
// GSA) is taken, and that a display thread
// taking from the collector while the reader fills it always gets one
// epoch's own table.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "EpochCollector.h"
#include "SentenceCheck.h"
#include "record_helpers.h"

namespace {

namespace link = zorvik::link;
using link::Kind;

std::string Checksummed(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

// The line as the reader hands it on: raw as received, text cut and zero-filled.
struct Received {
    std::string raw;
    std::string text;
    explicit Received(std::string line) : raw(std::move(line)) {
        const std::size_t end = raw.find_first_of("\r\n");
        text = raw.substr(0, end == std::string::npos ? raw.size() : end);
        text.resize(text.size() + 16, '\0');
    }
    link::Line line() { return {raw, text.data()}; }
};

// Ten satellites in three messages, six of them used; a second, smaller sky
// of two satellites, one used, as the next epoch may bring.
const std::map<std::string, std::string> kBodies = {
    {"RMC1", "GPRMC,100000.000,A,4807.0380,N,01131.0000,E,0.0,0.0,091226,,,A"},
    {"RMC2", "GPRMC,100001.000,A,4807.0380,N,01131.0000,E,0.0,0.0,091226,,,A"},
    {"GGA1", "GPGGA,100000.000,4807.0380,N,01131.0000,E,1,06,1.0,545.4,M,47.0,M,,"},
    {"GSA", "GPGSA,A,3,01,03,05,07,09,11,,,,,,,2.0,1.0,1.7"},
    {"GSV1", "GPGSV,3,1,10,01,40,010,41,02,40,020,30,03,40,030,42,04,40,040,31"},
    {"GSV2", "GPGSV,3,2,10,05,40,050,43,06,40,060,32,07,40,070,44,08,40,080,33"},
    {"GSV3", "GPGSV,3,3,10,09,40,090,45,11,40,110,46"},
    {"GSAb", "GPGSA,A,3,21,,,,,,,,,,,,2.0,1.0,1.7"},
    {"GSVb", "GPGSV,1,1,02,21,50,100,40,22,50,200,30"},
};

// A token is a body's name, "quiet", "hit:NAME" (one bit of the body
// flipped, the checksum as sent) or "bare:NAME" (no checksum at all).
void Play(link::EpochCollector& epochs, const std::vector<std::string>& tokens) {
    for (const std::string& token : tokens) {
        if (token == "quiet") {
            epochs.LineQuiet();
            continue;
        }
        const std::size_t colon = token.find(':');
        const std::string name = colon == std::string::npos ? token : token.substr(colon + 1);
        std::string line = Checksummed(kBodies.at(name));
        if (token.rfind("hit:", 0) == 0) line[8] ^= 0x04;
        if (token.rfind("bare:", 0) == 0) line = "$" + kBodies.at(name) + "\r\n";
        Received received(line);
        epochs.Take(received.line());
    }
}

struct SkyCount {
    int satellites = 0;
    int pvt = 0;
};
SkyCount Count(const ParseNMEAInfo& r) {
    SkyCount c;
    for (int i = 0; i < 12; ++i) {
        if (r.sv_prn[i] != 0) ++c.satellites;
        if (r.ch_status[i] == 3) ++c.pvt;
    }
    return c;
}

class EpochCollectorTest : public ::testing::Test {
  protected:
    void SetUp() override { zorvik::test::reset_record(); }
    link::EpochCollector epochs;
};

TEST(SentenceCheck, ActsOnlyOnSentencesWhoseChecksumHolds) {
    const std::string rmc = Checksummed(kBodies.at("RMC1"));
    std::string hit = rmc;
    hit[9] ^= 0x01;
    const struct {
        const char* what;
        std::string raw;
        bool holds;
    } cases[] = {
        {"intact, CR LF", rmc, true},
        {"intact, bare line feed", rmc.substr(0, rmc.size() - 2) + "\n", true},
        {"one bit hit", hit, false},
        {"no checksum", "$" + kBodies.at("RMC1") + "\r\n", false},
        {"one checksum digit", rmc.substr(0, rmc.size() - 3) + "\r\n", false},
        {"a real receiver's line", "$GPGSA,A,1,,,,,,,,,,,,,,,*1E\r\n", true},
        {"lower-case digits", "$GPGSA,A,1,,,,,,,,,,,,,,,*1e\r\n", false},
        {"empty body", "$*00\r\n", true},
    };
    for (const auto& c : cases) EXPECT_EQ(link::ChecksumHolds(c.raw), c.holds) << c.what;
}

// At any order of GSV and GSA, and with the next epoch already arriving, a
// sky is taken only from a whole group with its epoch's GSA: ten satellites,
// six of them PVT.
TEST_F(EpochCollectorTest, SkyOnlyFromAWholeGroupWithItsEpochsGsa) {
    const struct {
        const char* what;
        std::vector<std::string> tokens;
        bool sky;
    } cases[] = {
        {"GSV group, then GSA", {"RMC1", "GGA1", "GSV1", "GSV2", "GSV3", "GSA", "quiet"}, true},
        {"GSA amid the group", {"GSV1", "GSA", "GSV2", "GSV3", "quiet"}, true},
        {"next epoch begins at once",
         {"RMC1", "GSA", "GSV1", "GSV2", "GSV3", "RMC2", "GSAb", "GSVb"},
         true},
        {"a message of the group hit", {"RMC1", "GSA", "GSV1", "hit:GSV2", "GSV3", "quiet"}, false},
        {"a message without checksum",
         {"RMC1", "GSA", "bare:GSV1", "GSV2", "GSV3", "quiet"},
         false},
        {"messages out of order", {"RMC1", "GSA", "GSV2", "GSV1", "GSV3", "quiet"}, false},
        {"no GSA in the epoch", {"RMC1", "GSV1", "GSV2", "GSV3", "quiet"}, false},
        {"the epoch's GSA hit", {"RMC1", "hit:GSA", "GSV1", "GSV2", "GSV3", "quiet"}, false},
    };
    for (const auto& c : cases) {
        zorvik::test::reset_record();
        epochs.Reset();
        Play(epochs, c.tokens);
        const auto sky = epochs.TakeSky();
        ASSERT_EQ(sky.has_value(), c.sky) << c.what;
        if (!sky) continue;
        EXPECT_EQ(Count(sky->record).satellites, 10) << c.what;
        EXPECT_EQ(Count(sky->record).pvt, 6) << c.what;
        EXPECT_FALSE(epochs.TakeSky()) << c.what << ": taken once";
    }
}

// A hit reply never arms the rate step.
TEST_F(EpochCollectorTest, HitReplyDoesNotTakeTheRateStep) {
    Received reply(Checksummed("PKVX200,9,1"));
    reply.raw[11] = '0';  // still code 9, had it been parsed
    reply.text[11] = '0';
    EXPECT_FALSE(epochs.Take(reply.line()));
    EXPECT_EQ(zorvik::test::snapshot().NMEA09_2ndCommmand_done, 0);
    EXPECT_EQ(zorvik::test::snapshot().parse_reply_done, 0);
}

// The reader fills the collector while another thread takes skies and resets
// it: every sky taken is one epoch's own (ten satellites with six used, or
// two with one), never a table half refilled by the next epoch.
TEST_F(EpochCollectorTest, TakenSkiesAreWholeWhileTheReaderRuns) {
    std::atomic<bool> done{false};
    std::atomic<int> taken{0};
    constexpr int kEnough = 10;
    std::thread reader([&] {
        for (int epoch = 0; epoch < 20000 && taken < kEnough; ++epoch) {
            if (epoch % 2 == 0)
                Play(epochs, {"RMC1", "GSA", "GSV1", "GSV2", "GSV3"});
            else
                Play(epochs, {"RMC2", "GSVb", "GSAb"});
            if (epoch % 5 == 0) epochs.LineQuiet();
        }
        done = true;
    });
    for (int round = 0; !done; ++round) {
        if (const auto sky = epochs.TakeSky()) {
            const SkyCount c = Count(sky->record);
            EXPECT_TRUE((c.satellites == 10 && c.pvt == 6) || (c.satellites == 2 && c.pvt == 1))
                << c.satellites << " satellites, " << c.pvt << " PVT";
            ++taken;
        }
        epochs.FreshAt(link::SteadyClock::now());
        epochs.TakePublished();
        if (round % 500 == 499) epochs.Reset();
        std::this_thread::yield();
    }
    reader.join();
    EXPECT_GE(taken, kEnough);
}

}  // namespace
