// Intake: dispatch order, the checksum rule and its gate, the $PKVX200 reply,
// and hostile lines on exact-length heap buffers (run under ASan).
#include <gtest/gtest.h>

#include <cstring>
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

std::string with_checksum(const std::string& body) {
    std::string text = body + "*";
    CheckSum(text.c_str());
    return text + snapshot().checksum_text;
}

class Intake : public ::testing::Test {
  protected:
    void SetUp() override { reset_record(); }
};

TEST(ChecksumRule, DigitsAndValue) {
    struct Case {
        const char* text;
        int value;
        const char* digits;
    } cases[] = {
        {"$GPGGA*", 0x56, "56"},        {"$*", 0, "00"},
        {"$PKVX02,8*", 0x03, "03"},     {"$PKVX11,1,0,6,2,4*", 0x08, "08"},
        {"!GPGGA*ignored", 0x56, "56"},  // the first character is skipped whatever it is
        {"$\xFF\x0F*", 0xF0, "F0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckSum(c.text), c.value) << c.text;
        EXPECT_STREQ(snapshot().checksum_text, c.digits) << c.text;
    }
}

TEST(ChecksumRule, TextWithoutStarStopsAtItsEnd) {
    const std::string text = "$GPGGA";
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    EXPECT_EQ(CheckSum(buf.data()), 0x56);
    const char empty[1] = {'\0'};
    EXPECT_EQ(CheckSum(empty), 0);
}

TEST_F(Intake, CalculateChecksumVerifiesDigits) {
    EXPECT_EQ(Calculate_CheckSum("$GPGGA*56"), 1);
    EXPECT_EQ(snapshot().checksum_error, 0);
    struct Case {
        const char* line;
    } bad[] = {{"$GPGGA*57"}, {"$GPGGA*5"}, {"$GPGGA*"}, {"$GPGGA"}, {"$x*aa"}};
    for (const Case& c : bad) {
        reset_record();
        EXPECT_EQ(Calculate_CheckSum(c.line), 0) << c.line;
        EXPECT_EQ(snapshot().checksum_error, 1) << c.line;
    }
    // Lower-case hexadecimal digits do not decode to their value.
    EXPECT_EQ(Calculate_CheckSum("$PKVX02,5C*4D"), 1);
    EXPECT_EQ(Calculate_CheckSum("$PKVX02,5C*4d"), 0);
}

TEST_F(Intake, DispatchOrderAndParsingFlag) {
    feed("$PKVX100,a,b,01,05,x,y,02,10,A3B7X*00");
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.parse_fw_ver_done, 1);
    EXPECT_EQ(s.parsing, 1);  // stays up after a proprietary reply
    EXPECT_STREQ(s.fw_ver_major, "01");

    feed("$GPGSA,A,3,01,,,,,,,,,,,,1.0,2.0,3.0*00");
    s = snapshot();
    EXPECT_EQ(s.parsing, 0);
    EXPECT_EQ(s.parse_gsa_done, 1);

    feed("$PKVX28,01,CUST-1.2,x*00");
    feed("$PKVX119,35.2*00");
    s = snapshot();
    EXPECT_EQ(s.parse_customer_fw_ver_done, 1);
    EXPECT_STREQ(s.customer_fw_ver, "CUST-1.2");
    EXPECT_EQ(s.parse_ttff_done, 1);
    EXPECT_FLOAT_EQ(s.ttff, 35.2f);

    // "$PKVX28,00" is not the customer reply; nothing matches it.
    reset_record();
    feed("$PKVX28,00,zzz*00");
    s = snapshot();
    EXPECT_EQ(s.parse_customer_fw_ver_done, 0);
    EXPECT_EQ(s.parsing, 0);
}

TEST_F(Intake, ForeignTalkersAndKindsChangeOnlyParsing) {
    feed(with_checksum("$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A"));
    const ParseNMEAInfo before = snapshot();
    for (const char* line :
         {"$GNRMC,111111.000,A,1111.1111,S,01111.1111,E,1,2,010101,,,A*00",
          "$GPVTG,31.66,T,,M,0.06,N,0.1,K,A*00", "", "$", "garbage", "$GPRM", "$PKVX1"}) {
        feed(line);
        ParseNMEAInfo after = snapshot();
        EXPECT_EQ(after.parsing, 0) << line;
        after.parsing = before.parsing;
        EXPECT_EQ(std::memcmp(&after, &before, sizeof before), 0) << line;
    }
}

TEST_F(Intake, ChecksumGate) {
    const std::string bad = "$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A*00";
    feed(bad);  // gate off from load: parsed unverified
    EXPECT_STREQ(snapshot().utc_time, "092751.000");

    reset_record();
    {
        std::lock_guard lock(zorvik::state_mutex());
        zorvik::state().checksum_check = 1;
    }
    feed(bad);
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.parse_rmc_done, 0);
    EXPECT_EQ(s.checksum_error, 1);
    EXPECT_EQ(s.parsing, 1);  // dropped with parsing left up

    feed(with_checksum("$GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A"));
    s = snapshot();
    EXPECT_EQ(s.parse_rmc_done, 1);
    EXPECT_EQ(s.parsing, 0);
}

TEST_F(Intake, ReplyCode) {
    feed("$PKVX200,7,1*00");
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.reply_code, 7);
    EXPECT_EQ(s.parse_reply_done, 1);
    EXPECT_EQ(s.NMEA09_2ndCommmand_done, 0);  // only code 9 has a follow-up

    // Malformed first fields leave reply_code and the flags as they were.
    reset_record();
    {
        std::lock_guard lock(zorvik::state_mutex());
        zorvik::state().reply_code = 42;
    }
    for (const char* line :
         {"$PKVX200,9*00", "$PKVX200,,1*00", "$PKVX200,x9,1*00", "$PKVX200,1234567890123,1*00",
          "$PKVX200,99999999999,1*00", "$PKVX200,9", "$PKVX200", "$PKVX200,", "$PKVX200,9 ,1"}) {
        feed(line);
        s = snapshot();
        EXPECT_EQ(s.reply_code, 42) << line;
        EXPECT_EQ(s.parse_reply_done, 0) << line;
        EXPECT_EQ(s.NMEA09_2ndCommmand_done, 0) << line;
    }
    feed("$PKVX200,000000000012,0*00");  // twelve characters still fit
    EXPECT_EQ(snapshot().reply_code, 12);
}

TEST_F(Intake, HostileLinesStayInsideTheirBuffer) {
    std::vector<std::string> lines;
    for (const char* prefix : {"$GPRMC", "$GPGGA", "$GPGSV", "$GPGSA", "$PKVX100", "$PKVX28,01",
                               "$PKVX119", "$PKVX200"}) {
        const std::string p = prefix;
        lines.push_back(p);
        lines.push_back(p + ",");
        lines.push_back(p + "*");
        lines.push_back(p + ",1,1");
        lines.push_back(p + ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,");
        lines.push_back(p + std::string(600, 'A'));
        lines.push_back(p + "," + std::string(600, '9'));
        std::string many = p;
        for (int i = 0; i < 120; ++i) many += ",12345678901234567890";
        lines.push_back(many);
    }
    for (const std::string& line : lines) {
        for (std::size_t cut = 0; cut <= line.size(); cut += (cut < 40 ? 1 : 37))
            feed(line.substr(0, cut));
    }
    const ParseNMEAInfo s = snapshot();
    // Every text field of the record still ends inside its column.
    EXPECT_LT(strnlen(s.utc_time, sizeof s.utc_time), sizeof s.utc_time);
    EXPECT_LT(strnlen(s.latitude, sizeof s.latitude), sizeof s.latitude);
    EXPECT_LT(strnlen(s.longitude, sizeof s.longitude), sizeof s.longitude);
    EXPECT_LT(strnlen(s.altitude, sizeof s.altitude), sizeof s.altitude);
    EXPECT_LT(strnlen(s.speed, sizeof s.speed), sizeof s.speed);
    EXPECT_LT(strnlen(s.utc_date, sizeof s.utc_date), sizeof s.utc_date);
    EXPECT_LT(strnlen(s.fw_info1, sizeof s.fw_info1), sizeof s.fw_info1);
    EXPECT_LT(strnlen(s.fsa_ver, sizeof s.fsa_ver), sizeof s.fsa_ver);
    EXPECT_LT(strnlen(s.customer_fw_ver, sizeof s.customer_fw_ver), sizeof s.customer_fw_ver);
    for (int c = 0; c < 12; ++c) EXPECT_GE(s.sv_prn[c], 0);
}

TEST_F(Intake, NullAndOutOfRangeStartsAreHarmless) {
    ParseNMEA(nullptr);
    EXPECT_EQ(CheckSum(nullptr), 0);
    EXPECT_EQ(Calculate_CheckSum(nullptr), 0);
    char line[] = "$GPRMC,1";
    ParseRMC(500, line);
    ParseGSV(-5, line);
    ParseGSA(1000, line);
    ParseGGA(9, line);
    ParseFW_Ver(64, line);
    const ParseNMEAInfo s = snapshot();
    EXPECT_STREQ(s.utc_time, "");
    EXPECT_EQ(s.parse_rmc_done, 1);
}

}  // namespace
