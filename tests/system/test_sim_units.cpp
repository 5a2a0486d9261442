// The simulator's own protocol units: if they were wrong, every system test
// would test the library against a wrong receiver.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "command.h"
#include "epoch_sentences.h"
#include "nmea.h"
#include "replay.h"
#include "vbi.h"
#include "xmodem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SimNmea, ChecksumAndCoordinates) {
    EXPECT_EQ(sim::nmea::sentence("GPGGA"), "$GPGGA*56\r\n");
    EXPECT_EQ(sim::nmea::sentence(""), "$*00\r\n");
    EXPECT_EQ(sim::nmea::sentence("PKVX02,8"),
              "$PKVX02,8*" + sim::nmea::hex2(sim::nmea::checksum("PKVX02,8")) + "\r\n");
    EXPECT_EQ(sim::nmea::latitude_field(53.36133667), "5321.6802,N");
    EXPECT_EQ(sim::nmea::longitude_field(-6.505618333), "00630.3371,W");
    // Minutes that round up to 60 carry into the degrees.
    EXPECT_EQ(sim::nmea::latitude_field(-47.9999999), "4800.0000,S");
}

TEST(SimNmea, GsvGroupsAndEmptyFields) {
    sim::Epoch e;
    EXPECT_EQ(sim::gsv_bodies(e), std::vector<std::string>{"GPGSV,1,1,00"});
    for (int i = 1; i <= 12; ++i) {
        sim::SatelliteView v;
        v.prn = i;
        if (i != 12) {
            v.elevation = 10 + i;
            v.azimuth = 7;
        }
        if (i % 2) v.snr = 30 + i;
        e.satellites.push_back(v);
    }
    const auto gsv = sim::gsv_bodies(e);
    ASSERT_EQ(gsv.size(), 3u);
    EXPECT_EQ(gsv[0], "GPGSV,3,1,12,01,11,007,31,02,12,007,,03,13,007,33,04,14,007,");
    EXPECT_EQ(gsv[2], "GPGSV,3,3,12,09,19,007,39,10,20,007,,11,21,007,41,12,,,");
    e.fix = sim::FixKind::None;
    EXPECT_EQ(sim::gsa_body(e), "GPGSA,A,1,,,,,,,,,,,,,,,");
}

sim::Command cmd(const std::string& body) {
    const std::string s = sim::nmea::sentence(body);
    return sim::parse_command(s.substr(0, s.size() - 2));
}

TEST(SimCommands, Classification) {
    using K = sim::CommandKind;
    const struct {
        const char* body;
        K kind;
    } cases[] = {
        {"PKVX14,8", K::FirmwareVersion},
        {"PKVX28,00", K::CustomerVersion},
        {"PKVX02,5C", K::ColdStart},
        {"PKVX02,48", K::WarmStart},
        {"PKVX02,8", K::HotStart},
        {"PKVX02,9", K::Unknown},
        {"PKVX09,2,8", K::BaudFirstStep},
        {"PKVX09,,", K::BaudSecondStep},
        {"PKVX09,2,", K::Unknown},
        {"PKVX12,4,0,", K::SelectSentence},
        {"PKVX12,8,4,", K::Unknown},
        {"PKVX12,1,5,", K::Unknown},
        {"PKVX08,06", K::SingleChannelEnter},
        {"PKVX08,,", K::SingleChannelExit},
        {"PKVX08,6", K::Unknown},
        {"PKVX11,1,0,6,2,3", K::Programming},
        {"PKVX11,1,0,6,2,5", K::Unknown},
        {"PKVX11,1,0,1,2,0", K::VbiInput},
        {"GPRMC,1,2,3", K::Unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(cmd(c.body).kind, c.kind) << c.body;
    EXPECT_EQ(cmd("PKVX09,2,8").baud_code, 8);
    EXPECT_EQ(cmd("PKVX12,4,0,").sentence, 4);
    EXPECT_FALSE(cmd("PKVX12,4,0,").sentence_on);
    EXPECT_EQ(cmd("PKVX08,06").prn, 6);
    EXPECT_EQ(cmd("PKVX11,1,0,6,2,3").target, 3);
    EXPECT_EQ(sim::baud_for_code(1), 4800);
    EXPECT_EQ(sim::baud_for_code(8), 115200);
    EXPECT_EQ(sim::baud_for_code(3), 0);
}

TEST(SimCommands, FramingAndChecksum) {
    EXPECT_TRUE(sim::parse_command("$PKVX02,8*" + sim::nmea::hex2(sim::nmea::checksum("PKVX02,8")))
                    .checksum_ok);
    const sim::Command bad = sim::parse_command("$PKVX02,8*00");
    EXPECT_TRUE(bad.framed);
    EXPECT_FALSE(bad.checksum_ok);
    EXPECT_EQ(bad.kind, sim::CommandKind::Unknown);
    for (const char* s : {"", "$", "$PKVX14,8", "$PKVX14,8*", "$PKVX14,8*4", "$PKVX14,8*4G",
                          "PKVX14,8*48", "$PKVX14,8*481"})
        EXPECT_FALSE(sim::parse_command(s).framed) << s;
}

TEST(SimCommands, LineAssembly) {
    sim::LineAssembler a(20);
    std::vector<std::string> out;
    const std::string input = "junk\n$AB\r\n$partial$CD\n$" + std::string(30, 'x') + "\n$EF\n";
    for (char c : input)
        if (a.push(static_cast<std::uint8_t>(c))) out.push_back(a.take());
    EXPECT_EQ(out, (std::vector<std::string>{"$AB", "$CD", "$EF"}));
    EXPECT_EQ(a.dropped_lines(), 2u);  // the abandoned partial line and the over-long one
}

Bytes block(std::uint8_t start, std::uint8_t number, std::size_t size, std::uint8_t fill,
            bool good_sum = true) {
    Bytes b{start, number, static_cast<std::uint8_t>(~number)};
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        b.push_back(static_cast<std::uint8_t>(fill + i));
        sum = static_cast<std::uint8_t>(sum + fill + i);
    }
    b.push_back(good_sum ? sum : static_cast<std::uint8_t>(sum + 1));
    return b;
}

TEST(SimXmodem, BlocksAnswersAndImage) {
    sim::xmodem::Receiver rx;
    Bytes input = block(0x02, 1, 1024, 5);
    const Bytes second = block(0x01, 2, 128, 9);
    input.insert(input.end(), second.begin(), second.begin() + 50);
    auto events = rx.feed(input.data(), input.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].ok);
    EXPECT_EQ(events[0].answer, sim::xmodem::kACK);
    EXPECT_TRUE(rx.in_block());
    // The rest of the second block, then EOT in the same write.
    Bytes tail(second.begin() + 50, second.end());
    tail.push_back(sim::xmodem::kEOT);
    events = rx.feed(tail.data(), tail.size());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].size, 128u);
    EXPECT_EQ(events[1].kind, sim::xmodem::EventKind::Eot);
    EXPECT_EQ(events[1].answer, sim::xmodem::kACK);
    EXPECT_TRUE(rx.finished());
    ASSERT_EQ(rx.image().size(), 1024u + 128u);
    EXPECT_EQ(rx.image()[1024], 9);
}

TEST(SimXmodem, BadBlocksAreRefused) {
    const struct {
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {block(0x01, 1, 128, 0, false), "sum"},
        {block(0x01, 2, 128, 0), "number"},
        {[] {
             Bytes b = block(0x01, 1, 128, 0);
             b[2] = 0;
             return b;
         }(),
         "complement"},
    };
    for (const auto& c : cases) {
        sim::xmodem::Receiver rx;
        const auto events = rx.feed(c.bytes.data(), c.bytes.size());
        ASSERT_EQ(events.size(), 1u) << c.reason;
        EXPECT_FALSE(events[0].ok);
        EXPECT_EQ(events[0].reason, c.reason);
        EXPECT_EQ(events[0].answer, sim::xmodem::kNAK);
        EXPECT_TRUE(rx.image().empty());
    }
}

TEST(SimXmodem, NumberWrapsAndDuplicatesAreAcknowledgedOnce) {
    sim::xmodem::Receiver rx;
    for (int i = 1; i <= 257; ++i) {
        const Bytes b = block(0x01, static_cast<std::uint8_t>(i), 128, 0);
        const auto events = rx.feed(b.data(), b.size());
        ASSERT_EQ(events.size(), 1u);
        ASSERT_TRUE(events[0].ok) << i;
    }
    EXPECT_EQ(rx.blocks_ok(), 257);
    const Bytes again = block(0x01, 1, 128, 0);  // block 257 goes out as number 1
    const auto events = rx.feed(again.data(), again.size());
    EXPECT_EQ(events[0].kind, sim::xmodem::EventKind::Duplicate);
    EXPECT_EQ(events[0].answer, sim::xmodem::kACK);
    EXPECT_EQ(rx.image().size(), 257u * 128u);
}

TEST(SimXmodem, StalledBlockIsNakedAndNoiseSkipped) {
    sim::xmodem::Receiver rx;
    const Bytes noise{0x15, 'x', 0x00};
    EXPECT_TRUE(rx.feed(noise.data(), noise.size()).empty());
    EXPECT_EQ(rx.skipped(), 3u);
    const Bytes b = block(0x02, 1, 1024, 0);
    rx.feed(b.data(), 500);
    const auto events = rx.expire_partial();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reason, "timeout");
    // The sender's resend after the NAK is taken whole.
    EXPECT_TRUE(rx.feed(b.data(), b.size()).at(0).ok);
}

TEST(SimVbi, FramesNoiseAndSwitchBack) {
    sim::vbi::Parser p;
    const Bytes frame{0x81, 0xFF, 1, 2, 3, 0, 9, 9, 0xAA, 0xBB, 0xCC};
    Bytes input{0x00, 0x81, 0x00};  // a lone 0x81 is noise
    input.insert(input.end(), frame.begin(), frame.end());
    input.insert(input.end(), {0x81, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0});  // length beyond the maximum
    // Fed one byte at a time: frames split over reads.
    std::vector<sim::vbi::Frame> frames;
    for (std::uint8_t b : input)
        for (auto& f : p.feed(&b, 1)) frames.push_back(std::move(f));
    // The switch-back frame and what follows it in the same read.
    Bytes last(std::begin(sim::vbi::kSwitchBack), std::end(sim::vbi::kSwitchBack));
    last.insert(last.end(), {'$', 'G', 0x81, 0xFF});
    for (auto& f : p.feed(last.data(), last.size())) frames.push_back(std::move(f));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, frame);
    EXPECT_EQ(frames[0].payload_length, 3u);
    EXPECT_EQ(frames[0].skipped_before, 3u);
    EXPECT_TRUE(frames[1].switch_back);
    EXPECT_EQ(frames[1].skipped_before, 8u);
    EXPECT_EQ(p.take_rest(), (Bytes{'$', 'G', 0x81, 0xFF}));
}

TEST(SimVbi, StalePartialFrameIsResearched) {
    sim::vbi::Parser p;
    // A frame header promising 200 bytes that never come, with a real frame inside.
    Bytes input{0x81, 0xFF, 0, 0, 200, 0, 0, 0, 0x81, 0xFF, 0, 0, 1, 0, 0, 0, 0x42};
    EXPECT_TRUE(p.feed(input.data(), input.size()).empty());
    EXPECT_TRUE(p.partial());
    const auto frames = p.expire_partial();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes.back(), 0x42);
    EXPECT_FALSE(p.partial());
}

// Epochs of a recording: where one ends decides what goes out each second.
TEST(SimReplay, EpochsSplitAtTimeChangeOrSecondRmc) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::size_t> epoch_sizes;
    };
    const std::vector<Case> cases = {
        {"time change, RMC not first",
         "$GPGGA,120000.00,x*00\r\n$GPGSV,1,1,00*00\r\n$GPRMC,120000.00,A*00\r\n"
         "$GPGGA,120001.00,x*00\r\n$GPRMC,120001.00,A*00\r\n",
         {3, 2}},
        {"no time yet: each RMC starts an epoch",
         "$GPRMC,,V*00\n$GPGSA,A,1*00\n$GPRMC,,V*00\n$GPGSA,A,1*00\n",
         {2, 2}},
        {"GLL's time is its sixth field",
         "$GPGLL,1,N,2,E,100000,A*00\n$GPGLL,1,N,2,E,100001,A*00\n",
         {1, 1}},
        {"comments, blanks and a half line are not replayed",
         "# header\n\n$GPRMC,1,A*00\r\njunk\n$GPRMC,2,A*0",
         {1}},
        {"a whole last sentence without line end is kept", "$GPRMC,1,A*00\n$GPRMC,2,A*00", {1, 1}},
        {"nothing to replay", "hello\r\n", {}},
    };
    for (const Case& c : cases) {
        const sim::Recording r = sim::Recording::from_text(c.text);
        std::vector<std::size_t> sizes;
        for (const auto& e : r.epochs()) sizes.push_back(e.size());
        EXPECT_EQ(sizes, c.epoch_sizes) << c.name;
    }
    // Lines go out as recorded, their own line ends included.
    const sim::Recording mixed = sim::Recording::from_text("$GPRMC,1,A*00\r\n$GPRMC,2,A*00");
    ASSERT_EQ(mixed.epochs().size(), 2u);
    EXPECT_EQ(mixed.epochs()[0][0], "$GPRMC,1,A*00\r\n");
    EXPECT_EQ(mixed.epochs()[1][0], "$GPRMC,2,A*00\r\n");
}

}  // namespace
