// RMC, GGA, the version and TTFF replies, and the clock conversion.
#include <gtest/gtest.h>

#include <clocale>
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

class Position : public ::testing::Test {
  protected:
    void SetUp() override { reset_record(); }
};

struct RmcCase {
    const char* line;
    const char* time;
    char status;
    const char* lat;
    char ns;
    const char* lon;
    char ew;
    const char* speed;
    const char* course;
    const char* date;
};

TEST_F(Position, RmcFields) {
    const RmcCase cases[] = {
        {"$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A*45", "092751.000", 'A',
         "5321.6802", 'N', "00630.3371", 'W', "0.06", "31.66", "280511"},
        {"$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,,,280511,,,A*45", "092751.000", 'A',
         "5321.6802", 'N', "00630.3371", 'W', "", "", "280511"},
        // Empty single-character fields are empty and shift nothing.
        {"$GPRMC,235947.000,,,,,,,,041209,,*1D", "235947.000", '\0', "", '\0', "", '\0', "", "",
         "041209"},
        {"$GPRMC,235947.000,V,,,,,,,041209,,*1D", "235947.000", 'V', "", '\0', "", '\0', "", "",
         "041209"},
        {"$GPRMC,235947,VV,1,NN,2,EW,3,4,050607,,*00", "235947", 'V', "1", 'N', "2", 'E', "3", "4",
         "050607"},
        // Over-long fields are cut to their column; the next field is unaffected.
        {"$GPRMC,1,A,1234567890123456,N,123456789012345678901234,E,1234567890123,1,"
         "01020304050607,,*00",
         "1", 'A', "12345678901", 'N', "1234567890123456789", 'E', "12345678901", "1", "010203040"},
        // A sentence cut short: the checksum is not taken for a field.
        {"$GPRMC,120000,A,4807.038*6A", "120000", 'A', "4807.038", '\0', "", '\0', "", "", ""},
    };
    for (const RmcCase& c : cases) {
        feed(c.line);
        const ParseNMEAInfo s = snapshot();
        EXPECT_STREQ(s.utc_time, c.time) << c.line;
        EXPECT_EQ(s.rmc_status, c.status) << c.line;
        EXPECT_STREQ(s.latitude, c.lat) << c.line;
        EXPECT_EQ(s.lat_hemisphere, c.ns) << c.line;
        EXPECT_STREQ(s.longitude, c.lon) << c.line;
        EXPECT_EQ(s.lon_hemisphere, c.ew) << c.line;
        EXPECT_STREQ(s.speed, c.speed) << c.line;
        EXPECT_STREQ(s.course, c.course) << c.line;
        EXPECT_STREQ(s.utc_date, c.date) << c.line;
        EXPECT_EQ(s.parse_rmc_done, 1);
    }
}

TEST_F(Position, RmcReadsNothingFromPosition100On) {
    // The date field starts at position 95 and runs past 100: it is cut at
    // the window's edge and still terminated.
    std::string line = "$GPRMC,";
    line += std::string(79, '1') + ",A,,,,,,,";
    ASSERT_EQ(line.size(), 95u);
    line += "123456789,,*00";
    feed(line);
    EXPECT_STREQ(snapshot().utc_date, "12345");
}

TEST_F(Position, DoneFlagHandshake) {
    feed("$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A*45");
    EXPECT_EQ(snapshot().parse_rmc_done, 1);
    CMD_Clear_parse_rmc_done();
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.parse_rmc_done, 0);
    EXPECT_STREQ(s.latitude, "5321.6802");
    s.latitude[0] = 'X';  // the caller's copy is the caller's
    EXPECT_STREQ(snapshot().latitude, "5321.6802");
}

TEST_F(Position, GgaAltitude) {
    struct Case {
        const char* line;
        const char* altitude;
    } cases[] = {
        {"$GPGGA,092751.000,5321.6802,N,00630.3371,W,1,8,1.03,123.4,M,55.2,M,,*75", "123.4"},
        {"$GPGGA,092751.000,5321.6802,N,00630.3371,W,1,8,1.03,,M,55.2,M,,*75", ""},
        {"$GPGGA,1,2,N,3,W,1,8,1.03,12345678901234,M,,M,,*00", "1234567890"},
        {"$GPGGA,1,2,N,3,W,1,8*00", ""},
        {"$GPGGA,1,2,N,3", ""},
    };
    for (const Case& c : cases) {
        feed("$GPGGA,0,0,N,0,E,0,0,0,999.9,M,,M,,*00");  // a previous value to overwrite
        feed(c.line);
        const ParseNMEAInfo s = snapshot();
        EXPECT_STREQ(s.altitude, c.altitude) << c.line;
        EXPECT_EQ(s.parse_gga_done, 1);
    }
}

TEST_F(Position, FirmwareVersionReply) {
    feed("$PKVX100,INFO1,INFO2,01,05,xx,yy,02,10,A3B7X*3C");
    ParseNMEAInfo s = snapshot();
    EXPECT_STREQ(s.fw_info1, "INFO1");
    EXPECT_STREQ(s.fw_info2, "INFO2");
    EXPECT_STREQ(s.fw_ver_major, "01");
    EXPECT_STREQ(s.fw_ver_minor, "05");
    EXPECT_STREQ(s.kernel_ver_major, "02");
    EXPECT_STREQ(s.kernel_ver_minor, "10");
    EXPECT_STREQ(s.fsa_ver, "A3B7X*3C");  // the last field runs to a ',' only

    // Ten characters do not fit a 10-byte column with its NUL.
    feed("$PKVX100,0123456789,b,c,d,e,f,g,h,ABCDEFGHIJKLMNOPQRSTUVWXYZ,*00");
    s = snapshot();
    EXPECT_STREQ(s.fw_info1, "012345678");
    EXPECT_STREQ(s.fw_info2, "b");
    EXPECT_STREQ(s.kernel_ver_minor, "h");
    EXPECT_STREQ(s.fsa_ver, "ABCDEFGHIJKLMNOP");
}

TEST_F(Position, CustomerVersionAndTtff) {
    feed("$PKVX28,01,ABCDEFGHIJKLMNOPQRSTUVWXYZ,1*00");
    EXPECT_STREQ(snapshot().customer_fw_ver, "ABCDEFGHIJKLMNOP");

    struct Case {
        const char* line;
        float ttff;
    } cases[] = {{"$PKVX119,35.2*00", 35.2f},
                 {"$PKVX119,*00", 0.0f},
                 {"$PKVX119,abc*00", 0.0f},
                 {"$PKVX119,12.5", 12.5f},
                 {"$PKVX119,1.5,2*00", 0.0f}};
    for (const Case& c : cases) {
        feed("$PKVX119,99*00");
        feed(c.line);
        EXPECT_FLOAT_EQ(snapshot().ttff, c.ttff) << c.line;
    }
}

TEST(ParserDecimalPoint, IndependentOfLocale) {
    // The program's toolkit may switch the C locale to the user's; a ',' as
    // decimal separator must not change how "1.5" reads.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale here";
    feed("$PKVX119,1.5*00");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_FLOAT_EQ(snapshot().ttff, 1.5f);
}

void set_clock(int y, int mo, int d, int h, int mi, int s) {
    std::lock_guard lock(zorvik::state_mutex());
    zorvik::clock_fields() = zorvik::ClockFields{y, mo, d, h, mi, s, 0};
}

TEST(GpsTime, CalendarToSeconds) {
    struct Case {
        int y, mo, d, h, mi, s;
        uint32_t seconds;
    } cases[] = {
        {1980, 1, 6, 0, 0, 0, 0u},
        {2009, 1, 1, 0, 0, 0, 914803200u},
        {1980, 3, 1, 0, 0, 0, 4752000u},  // 55 days: 1980 is a leap year
        {1981, 1, 1, 0, 0, 0, 31190400u},
        {2000, 2, 29, 12, 0, 0, 635860800u},
        {2024, 12, 31, 23, 59, 59, 1419724799u},
    };
    for (const Case& c : cases) {
        set_clock(c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(time_and_date_to_seconds(), c.seconds) << c.y << "-" << c.mo << "-" << c.d;
    }
    set_clock(2008, 2, 29, 23, 59, 59);
    const uint32_t before = time_and_date_to_seconds();
    set_clock(2008, 3, 1, 0, 0, 0);
    EXPECT_EQ(time_and_date_to_seconds() - before, 1u);
    set_clock(2008, 12, 31, 23, 59, 59);
    EXPECT_EQ(time_and_date_to_seconds() + 1, 914803200u);
    set_clock(2009, 13, 1, 0, 0, 0);  // no such month
    EXPECT_EQ(time_and_date_to_seconds(), 0u);
}

TEST_F(Position, GetGpsTimeReadsRmcTexts) {
    feed("$GPRMC,000000.500,A,1,N,2,E,0,0,010109,,*00");
    EXPECT_EQ(GetGPSTime(), 914803200u);
    {
        std::lock_guard lock(zorvik::state_mutex());
        const zorvik::ClockFields& k = zorvik::clock_fields();
        EXPECT_EQ(k.year, 2009);
        EXPECT_EQ(k.month, 1);
        EXPECT_EQ(k.day, 1);
        EXPECT_EQ(k.gps_seconds, 914803200u);
    }
    feed("$GPRMC,235959,A,1,N,2,E,0,0,290208,,*00");
    EXPECT_EQ(GetGPSTime() + 1, 888364800u);  // 2008-03-01 00:00:00
    reset_record();
    EXPECT_EQ(GetGPSTime(), 0u);  // before any RMC: no month, no time
}

}  // namespace
