// GSV and GSA into the channel table; channel states, the sorted copy and
// the sky-plot position.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "record_helpers.h"
#include "zorvik_testing.h"

namespace {

using zorvik::test::feed;
using zorvik::test::reset_record;
using zorvik::test::snapshot;

class Satellites : public ::testing::Test {
  protected:
    void SetUp() override { reset_record(); }
};

TEST_F(Satellites, ThreeMessageGroupFillsTenChannels) {
    feed("$GPGSV,3,1,10,01,10,100,41,02,20,200,42,03,30,300,43,04,40,040,44*00");
    EXPECT_EQ(snapshot().parse_gsv_done, 0);
    feed("$GPGSV,3,2,10,05,50,050,45,06,60,060,46,07,70,070,47,08,80,080,48*00");
    EXPECT_EQ(snapshot().parse_gsv_done, 0);
    feed("$GPGSV,3,3,10,33,15,150,30,32,25,250,*00");
    const ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.parse_gsv_done, 1);
    EXPECT_EQ(s.sats_in_view, 10);
    const int prn[12] = {1, 2, 3, 4, 5, 6, 7, 8, 120, 32, 0, 0};
    const int snr[12] = {41, 42, 43, 44, 45, 46, 47, 48, 30, 0, 0, 0};
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(s.sv_prn[c], prn[c]) << c;
        EXPECT_EQ(s.sv_snr[c], snr[c]) << c;
        EXPECT_EQ(s.sv_pos_missing[c], 0) << c;
    }
    EXPECT_EQ(s.sv_elevation[8], 15);
    EXPECT_EQ(s.sv_azimuth[9], 250);
}

TEST_F(Satellites, NewGroupClearsTableAndShortMessagesFillOnlyTheirSlots) {
    feed("$GPGSV,3,1,12,01,10,100,41,02,20,200,42,03,30,300,43,04,40,040,44*00");
    feed("$GPGSV,3,2,12,05,50,050,45,06,60,060,46,07,70,070,47,08,80,080,48*00");
    feed("$GPGSV,1,1,02,09,,123,40,10,45,,*00");
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.sv_prn[0], 9);
    EXPECT_EQ(s.sv_pos_missing[0], 1);
    EXPECT_EQ(s.sv_azimuth[0], 123);
    EXPECT_EQ(s.sv_prn[1], 10);
    EXPECT_EQ(s.sv_pos_missing[1], 1);
    for (int c = 2; c < 12; ++c) EXPECT_EQ(s.sv_prn[c], 0) << c;
    EXPECT_EQ(s.parse_gsv_done, 1);

    // No satellites at all: the table empties and the group is complete.
    CMD_Clear_parse_gsv_done();
    feed("$GPGSV,1,1,00*79");
    s = snapshot();
    EXPECT_EQ(s.sv_prn[0], 0);
    EXPECT_EQ(s.sats_in_view, 0);
    EXPECT_EQ(s.parse_gsv_done, 1);

    // A last slot cut short stops at the '*' and reads no checksum digit.
    feed("$GPGSV,1,1,05,07,45*1F");
    s = snapshot();
    EXPECT_EQ(s.sv_prn[0], 7);
    EXPECT_EQ(s.sv_elevation[0], 45);
    EXPECT_EQ(s.sv_azimuth[0], 0);
    EXPECT_EQ(s.sv_pos_missing[0], 1);
    EXPECT_EQ(s.sv_prn[1], 0);
}

TEST_F(Satellites, MessageNumbersOutsideTheTable) {
    feed("$GPGSV,1,1,01,05,10,100,40*00");
    CMD_Clear_parse_gsv_done();
    for (const char* line : {"$GPGSV,1,0,01,07,10,100,40*00", "$GPGSV,1,,01,07,10,100,40*00",
                             "$GPGSV,1,-1,01,07,10,100,40*00", "$GPGSV,0,0*00", "$GPGSV,,*00"}) {
        feed(line);
        const ParseNMEAInfo s = snapshot();
        EXPECT_EQ(s.sv_prn[0], 5) << line;
        EXPECT_EQ(s.sats_in_view, 1) << line;
        EXPECT_EQ(s.parse_gsv_done, 0) << line;
    }
    // A fourth message is not stored but completes a four-message group.
    feed("$GPGSV,4,4,16,07,10,100,40*00");
    const ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.sv_prn[0], 5);
    EXPECT_EQ(s.sats_in_view, 1);
    EXPECT_EQ(s.parse_gsv_done, 1);
}

TEST_F(Satellites, SnrAbove99EndsTheSentence) {
    feed("$GPGSV,2,2,08,05,10,100,40,06,20,200,41,07,30,300,42,08,40,040,43*00");
    CMD_Clear_parse_gsv_done();
    feed("$GPGSV,2,2,08,15,11,110,100,16,21,210,41,17,31,310,42,18,41,041,43*00");
    const ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.sv_prn[4], 15);
    EXPECT_EQ(s.sv_snr[4], 100);
    EXPECT_EQ(s.sv_prn[5], 6);  // later slots keep their values
    EXPECT_EQ(s.sv_prn[7], 8);
    EXPECT_EQ(s.parse_gsv_done, 0);
}

TEST_F(Satellites, TrailingSignalIdIsNoSatellite) {
    struct Case {
        const char* line;
        int prn[5];  // channels 0 to 4 afterwards
    } cases[] = {
        // One field behind the last full block: a signal ID (NMEA 4.10).
        {"$GPGSV,1,1,02,03,45,120,41,07,30,200,38,1*6F", {3, 7, 0, 0, 0}},
        {"$GPGSV,1,1,00,1*64", {0, 0, 0, 0, 0}},
        {"$GPGSV,1,1,01,05,10,100,40,1", {5, 0, 0, 0, 0}},
        {"$GPGSV,1,1,04,01,10,100,41,02,20,200,42,03,30,300,43,04,40,040,44,1*00", {1, 2, 3, 4, 0}},
        // Two fields behind it: a slot cut short, still a satellite.
        {"$GPGSV,1,1,02,03,45,120,41,07,30*00", {3, 7, 0, 0, 0}},
        {"$GPGSV,1,1,02,03,45,120,41,07,*00", {3, 7, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        CMD_Clear_parse_gsv_done();
        feed(c.line);
        GetChStatus();
        const ParseNMEAInfo s = snapshot();
        EXPECT_EQ(s.parse_gsv_done, 1) << c.line;
        for (int ch = 0; ch < 5; ++ch) {
            EXPECT_EQ(s.sv_prn[ch], c.prn[ch]) << c.line << " channel " << ch;
            EXPECT_EQ(s.ch_status[ch] != 0, c.prn[ch] != 0) << c.line << " channel " << ch;
        }
    }
}

TEST_F(Satellites, SatelliteNumbersOutsideTheirRangeAreNone) {
    struct Case {
        const char* number;
        int stored;
    } cases[] = {
        {"32", 32},        {"33", 120},        {"999", 1086}, {"1000", 0},        {"2147483600", 0},
        {"2147483647", 0}, {"99999999999", 0}, {"-5", 0},     {"-2147483648", 0},
    };
    for (const Case& c : cases) {
        feed(std::string("$GPGSV,1,1,01,") + c.number + ",10,100,40*00");
        EXPECT_EQ(snapshot().sv_prn[0], c.stored) << c.number;
    }
}

TEST_F(Satellites, GsaFields) {
    feed("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39");
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.fix_mode, 3);
    const int used[12] = {4, 5, 0, 9, 12, 0, 0, 24, 0, 0, 0, 0};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(s.sv_used[k], used[k]) << k;
    EXPECT_FLOAT_EQ(s.pdop, 2.5f);
    EXPECT_FLOAT_EQ(s.hdop, 1.3f);
    EXPECT_FLOAT_EQ(s.vdop, 2.1f);
    EXPECT_EQ(s.parse_gsa_done, 1);

    // Empty mode and fix fields shift nothing; a three-digit ID stays aligned.
    feed("$GPGSA,,,07,120,,,,,,,,,,11,9.9,8.8,7.7*00");
    s = snapshot();
    EXPECT_EQ(s.fix_mode, 0);
    EXPECT_EQ(s.sv_used[0], 7);
    EXPECT_EQ(s.sv_used[1], 120);
    EXPECT_EQ(s.sv_used[11], 11);
    EXPECT_FLOAT_EQ(s.pdop, 9.9f);
    EXPECT_FLOAT_EQ(s.vdop, 7.7f);

    // Cut short: the rest reads as empty, nothing of the checksum is taken.
    feed("$GPGSA,A,2,03*11");
    s = snapshot();
    EXPECT_EQ(s.fix_mode, 2);
    EXPECT_EQ(s.sv_used[0], 3);
    EXPECT_EQ(s.sv_used[1], 0);
    EXPECT_FLOAT_EQ(s.pdop, 0.0f);
}

TEST_F(Satellites, ChannelStatus) {
    feed("$GPGSV,2,1,05,01,10,100,,02,20,200,35,03,30,300,35,33,40,040,35*00");
    feed("$GPGSV,2,2,05,120,50,050,35*00");
    feed("$GPGSA,A,3,02,33,,,,,,,,,,,1,1,1*00");
    GetChStatus();
    const ParseNMEAInfo s = snapshot();
    // empty SNR: Search; used: PVT; not used: Track. GSV 33 is PRN 120, which
    // GSA's 33 is not; GSV 120 is stored as 207.
    const int expected[12] = {1, 3, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0};
    for (int c = 0; c < 12; ++c) EXPECT_EQ(s.ch_status[c], expected[c]) << c;
    EXPECT_EQ(s.sv_prn[4], 207);
    EXPECT_EQ(CheckSAT_Used(120), 0);
    EXPECT_EQ(CheckSAT_Used(33), 1);
    EXPECT_EQ(CheckSAT_Used(3), 0);

    ClearChStatus();
    const ParseNMEAInfo cleared = snapshot();
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(cleared.sv_prn[c], 0);
        EXPECT_EQ(cleared.sv_used[c], 0);
        EXPECT_EQ(cleared.ch_status[c], expected[c]);  // statuses stay until recomputed
    }
    EXPECT_EQ(cleared.sats_in_view, 5);
}

TEST_F(Satellites, SortedCopyByPrn) {
    feed("$GPGSV,1,1,03,17,10,100,40,00,20,200,30,03,30,300,20*00");
    GetChStatus();
    sort_sv_cn();
    ParseNMEAInfo s = snapshot();
    const int prn[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 17};
    for (int c = 0; c < 12; ++c) EXPECT_EQ(s.sorted_prn[c], prn[c]) << c;
    EXPECT_EQ(s.sorted_snr[10], 20);
    EXPECT_EQ(s.sorted_snr[11], 40);
    EXPECT_EQ(s.sorted_status[11], 2);
    EXPECT_EQ(s.sorted_snr[0], 30);  // channel 1 (PRN 0) keeps its place among the zeros
    ttff_sv_cn_clean();
    s = snapshot();
    EXPECT_EQ(s.sorted_prn[11], 0);
    EXPECT_EQ(s.sorted_snr[0], 0);
}

TEST(SvSort, ExchangeSortMovesCompanions) {
    int key[5] = {5, 1, 5, 0, 1};
    int first[5] = {50, 10, 51, 0, 11};
    int second[5] = {-5, -1, -6, 0, -2};
    SV_Sort(first, key, 5, second);
    const int k[5] = {0, 1, 1, 5, 5};
    const int f[5] = {0, 10, 11, 50, 51};
    const int g[5] = {0, -1, -2, -5, -6};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(key[i], k[i]) << i;
        EXPECT_EQ(first[i], f[i]) << i;
        EXPECT_EQ(second[i], g[i]) << i;
    }
    SV_Sort(nullptr, key, 5, second);  // harmless
}

TEST(SkyPlot, Positions) {
    struct Case {
        int el, az, x, y;
    } cases[] = {
        {90, 0, 124, 120},   {0, 0, 124, 18},   {0, 90, 226, 120}, {0, -90, 22, 120},
        {45, 180, 124, 171}, {0, 270, 22, 120}, {30, 45, 172, 72}, {-10, 0, 124, 7},
    };
    for (const Case& c : cases) {
        int x = -1, y = -1;
        GetSAT_Pos(c.el, c.az, &x, &y);
        EXPECT_EQ(x, c.x) << c.el << "/" << c.az;
        EXPECT_EQ(y, c.y) << c.el << "/" << c.az;
    }
    int x = 0, y = 0;
    GetSAT_Pos(2147483647, -2147483647, &x, &y);  // hostile values: no overflow
    GetSAT_Pos(0, 0, nullptr, nullptr);
}

}  // namespace
