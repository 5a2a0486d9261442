// Command sentences byte for byte, read on the master side of a real pty
// whose slave the library has opened.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "pty_pair.h"
#include "record_helpers.h"
#include "zorvik_testing.h"

namespace {

using zorvik::test::feed;
using zorvik::test::snapshot;

using zorvik::test::as_text;
using zorvik::test::PtyPair;

using zorvik::nmea::with_checksum;

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        zorvik::testing::reset_record();
        ASSERT_NE(COM_Open(pty_.slave_path().c_str(), "115200"), 0);
        pty_.drain();
    }
    void TearDown() override { COM_Close(); }

    std::string expect_bytes(std::size_t n) { return as_text(pty_.read_exact(n)); }
    bool quiet() { return pty_.read_burst(300, 50).empty(); }

    PtyPair pty_;
};

struct Row {
    const char* name;
    std::function<int()> send;
    std::string bytes;
};

TEST_F(Commands, EveryRowByteForByte) {
    const Row rows[] = {
        {"ColdStart", CMD_ColdStart, "$PKVX02,5C*4D\r\n"},
        {"WarmStart", CMD_WarmStart, "$PKVX02,48*37\r\n"},
        {"HotStart", CMD_HotStart, "$PKVX02,8*03\r\n"},
        {"FWVersion", CMD_FWVersion, "$PKVX14,8*04\r\n"},
        {"CustomerVersion", CMD_CustomerVersion, "$PKVX28,00*33\r\n"},
        {"Set_BuadRate(8)", [] { return CMD_Set_BuadRate(8); }, "$PKVX09,2,8*16\r\n"},
        {"Set_BuadRate(1)", [] { return CMD_Set_BuadRate(1); }, "$PKVX09,2,1*1F\r\n"},
        {"NMEA09_2nd", CMD_NMEA09_2ndCommmand, "$PKVX09,,*1C\r\n"},
        {"SetNMEASentences(4,1)", [] { return CMD_SetNMEASentences(4, 1); }, "$PKVX12,4,0,*3E\r\n"},
        {"SetNMEASentences(0,0)", [] { return CMD_SetNMEASentences(0, 0); }, "$PKVX12,0,4,*3E\r\n"},
        {"In_Single_Channel_Mode", [] { return In_Single_Channel_Mode('1', '2'); },
         "$PKVX08,12*32\r\n"},
        {"Exit_Single_Channel_Mode", Exit_Single_Channel_Mode, "$PKVX08,,*1D\r\n"},
        {"Prog_AP", CMD_Prog_AP, "$PKVX11,1,0,6,2,0*0C\r\n"},
        {"Prog_FK", CMD_Prog_FK, "$PKVX11,1,0,6,2,1*0D\r\n"},
        {"Prog_FSA", CMD_Prog_FSA, "$PKVX11,1,0,6,2,2*0E\r\n"},
        {"Prog_AllImage", CMD_Prog_AllImage, "$PKVX11,1,0,6,2,3*0F\r\n"},
        {"WriteLTEToSPIFlash", CMD_WriteLTEToSPIFlash, "$PKVX11,1,0,6,2,4*08\r\n"},
        {"NMEAToVBI_Input", CMD_NMEAToVBI_Input, "$PKVX11,1,0,1,2,0*0B\r\n"},
        {"VBIToNMEA_Input", CMD_VBIToNMEA_Input,
         std::string("\x81\xFF\x0B\x00\x02\x00\xD0\xFF\x21\x02", 10)},
    };
    for (const Row& row : rows) {
        EXPECT_NE(row.send(), 0) << row.name;
        EXPECT_EQ(expect_bytes(row.bytes.size()), row.bytes) << row.name;
        // Stored digits follow the same rule as computed ones.
        if (row.bytes[0] == '$') {
            const std::string body = row.bytes.substr(0, row.bytes.find('*'));
            EXPECT_EQ(with_checksum(body), row.bytes) << row.name;
        }
    }
    EXPECT_TRUE(quiet()) << "no command writes more than its own length";
}

TEST_F(Commands, RestartAndVersionCommandsClearTheirFlags) {
    feed("$PKVX100,a,b,1,2,c,d,3,4,e*00");
    feed("$PKVX28,01,X,*00");
    ASSERT_EQ(snapshot().parse_fw_ver_done, 1);
    CMD_CustomerVersion();
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.parse_customer_fw_ver_done, 0);
    EXPECT_EQ(s.parse_fw_ver_done, 1);
    for (int (*restart)() : {CMD_ColdStart, CMD_WarmStart, CMD_HotStart, CMD_FWVersion}) {
        feed("$PKVX100,a,b,1,2,c,d,3,4,e*00");
        restart();
        EXPECT_EQ(snapshot().parse_fw_ver_done, 0);
    }
    // With no port the write fails, and the flag is cleared all the same.
    COM_Close();
    feed("$PKVX100,a,b,1,2,c,d,3,4,e*00");
    EXPECT_EQ(CMD_HotStart(), 0);
    EXPECT_EQ(snapshot().parse_fw_ver_done, 0);
    EXPECT_EQ(CMD_Set_BuadRate(8), 0);
    EXPECT_EQ(CMD_SendNMEACommand("$PX*", 4), 0);
}

TEST_F(Commands, ComputedChecksumLandsInChecksumText) {
    CMD_Set_BuadRate(6);
    EXPECT_EQ(expect_bytes(16), with_checksum("$PKVX09,2,6"));
    EXPECT_EQ(std::string(snapshot().checksum_text), with_checksum("$PKVX09,2,6").substr(12, 2));
}

TEST_F(Commands, UndefinedSentenceModeIsRefused) {
    EXPECT_EQ(CMD_SetNMEASentences(3, 2), 0);
    EXPECT_EQ(CMD_SetNMEASentences(3, -1), 0);
    EXPECT_TRUE(quiet());
}

TEST_F(Commands, FreeCommandLineTwoWrites) {
    const std::string text = "$PMYCMD,1,2*";
    CheckSum(text.c_str());
    const std::string digits = snapshot().checksum_text;
    EXPECT_NE(CMD_SendNMEACommand(text.c_str(), static_cast<int>(text.size())), 0);
    EXPECT_EQ(expect_bytes(text.size() + 4), text + digits + "\r\n");
    EXPECT_EQ(text + digits + "\r\n", with_checksum("$PMYCMD,1,2"));

    // The first write is exactly `length` bytes of the text, the second the
    // two digits of that text and CR LF.
    const std::string longer = "$PMYCMD,1,2*TRAILING";
    CMD_SendNMEACommand(longer.c_str(), 12);
    EXPECT_EQ(expect_bytes(16), with_checksum("$PMYCMD,1,2"));
    // A length beyond the caller's text reads no further than its NUL.
    CMD_SendNMEACommand("$PQ*", 400);
    EXPECT_EQ(expect_bytes(8), with_checksum("$PQ"));
    EXPECT_TRUE(quiet());
}

TEST_F(Commands, SecondBaudStepOncePerArming) {
    const std::string second = with_checksum("$PKVX09,,");
    CMD_Set_BuadRate(8);
    CMD_Clear_NMEA09_2ndCommmand_done();
    EXPECT_EQ(expect_bytes(16), with_checksum("$PKVX09,2,8"));

    feed("$PKVX200,9,1*00");
    EXPECT_EQ(expect_bytes(second.size()), second);
    ParseNMEAInfo s = snapshot();
    EXPECT_EQ(s.NMEA09_2ndCommmand_done, 1);
    EXPECT_EQ(s.reply_code, 9);
    EXPECT_EQ(s.parse_reply_done, 1);

    feed("$PKVX200,9,1*00");
    EXPECT_TRUE(quiet()) << "a second acknowledgement sends nothing";

    CMD_Clear_NMEA09_2ndCommmand_done();
    feed("$PKVX200,9,1*00");
    EXPECT_EQ(expect_bytes(second.size()), second);

    CMD_Clear_NMEA09_2ndCommmand_done();
    for (const char* other :
         {"$PKVX200,8,1*00", "$PKVX200,90,1*00", "$PKVX200,9*00", "$PKVX200,x,1*00"}) {
        feed(other);
        EXPECT_TRUE(quiet()) << other;
    }
    EXPECT_EQ(snapshot().NMEA09_2ndCommmand_done, 0);
}

}  // namespace

// A peer that stops taking data: the command whose body could not go out is
// reported as not sent, and no checksum trailer follows it on its own.
TEST_F(Commands, CommandLineWhoseBodyStallsIsNotReportedSent) {
    const std::string text = "$" + std::string(4000, 'X');
    int result = 1;
    for (int i = 0; i < 30 && result != 0; ++i) result = CMD_SendNMEACommand(text.c_str(), 4001);
    EXPECT_EQ(result, 0);
}
