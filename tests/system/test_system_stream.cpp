// The library against the receiver simulator over a real pty: the NMEA stream
// into the state record, the two-step rate change, the version replies and a
// hot start with its TTFF report.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ZorvikDll.h"
#include "port_registry.h"
#include "receiver_sim.h"
#include "system_reader.h"

namespace {

class Connected {
  public:
    Connected(const std::string& port, const char* baud) {
        handle_ = COM_Open(port.c_str(), baud);
        if (handle_ != 0) reader_ = std::make_unique<SystemReader>(handle_);
    }
    ~Connected() { close(); }
    void close() {
        if (handle_ == 0) return;
        COM_Close();
        reader_.reset();
        handle_ = 0;
    }
    bool ok() const { return handle_ != 0; }

  private:
    int handle_ = 0;
    std::unique_ptr<SystemReader> reader_;
};

TEST(SystemStream, TenSecondsFillTheChannelTableAndGiveAFix) {
    ReceiverSim sim;
    zorvik::serial::set_registry_dir_for_testing(sim.registry_dir());
    ClearChStatus();
    Connected link(sim.port_name(), "9600");  // by its registered name, as the program does
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(wait_for_state(
        [](const ParseNMEAInfo& s) {
            return s.rmc_status == 'A' && s.fix_mode == 3 && s.parse_gsv_done && s.parse_gsa_done;
        },
        15000));
    GetChStatus();
    const ParseNMEAInfo s = snapshot();
    EXPECT_GE(s.sats_in_view, 8);
    EXPECT_LE(s.sats_in_view, 12);
    int listed = 0, pvt = 0, sbas = 0, searching = 0, missing = 0;
    for (int c = 0; c < 12; ++c) {
        if (s.sv_prn[c] != 0) ++listed;
        if (s.ch_status[c] == 3) ++pvt;
        if (s.ch_status[c] == 1) ++searching;
        if (s.sv_prn[c] >= 120 && s.sv_prn[c] <= 151) ++sbas;
        if (s.sv_pos_missing[c]) ++missing;
    }
    EXPECT_EQ(listed, s.sats_in_view);
    EXPECT_GE(pvt, 4);
    EXPECT_GE(sbas, 1);
    EXPECT_GE(searching, 1);
    EXPECT_GE(missing, 1);
    EXPECT_GT(s.hdop, 0.0f);
    EXPECT_GT(s.vdop, 0.0f);
    EXPECT_EQ(std::string(s.utc_time).size(), 10u);  // hhmmss.sss
    EXPECT_EQ(std::string(s.utc_date).size(), 6u);
    EXPECT_TRUE(s.lat_hemisphere == 'N' || s.lat_hemisphere == 'S');
    EXPECT_TRUE(s.lon_hemisphere == 'E' || s.lon_hemisphere == 'W');
    EXPECT_GT(std::stod(s.altitude), 100.0);
    // The receiver's clock is the computer's: the GPS time is now.
    const std::uint32_t gps = GetGPSTime();
    const auto unix_now = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(gps), static_cast<double>(unix_now - 315964800), 5.0);
    link.close();
    zorvik::serial::set_registry_dir_for_testing("");
}

// Through every rate of the baud list and back to the first.
TEST(SystemStream, RateChangeMovesBothSidesAndBack) {
    ReceiverSim sim({"--time-scale", "0.05"});
    const struct {
        int code;
        const char* baud;
        const char* report;
    } steps[] = {{1, "4800", "\"rate\":4800"},     {4, "19200", "\"rate\":19200"},
                 {6, "38400", "\"rate\":38400"},   {7, "57600", "\"rate\":57600"},
                 {8, "115200", "\"rate\":115200"}, {2, "9600", "\"rate\":9600"}};
    std::string current = "9600";
    for (const auto& step : steps) {
        SCOPED_TRACE(step.baud);
        {
            Connected link(sim.device(), current.c_str());
            ASSERT_TRUE(link.ok());
            ASSERT_TRUE(
                wait_for_state([](const ParseNMEAInfo& s) { return s.parse_rmc_done; }, 5000));
            // Cleared before the command goes out: on a loaded machine the
            // acknowledgement can be handled before the next line runs.
            CMD_Clear_NMEA09_2ndCommmand_done();
            ASSERT_NE(CMD_Set_BuadRate(step.code), 0);
            // The intake answers the acknowledgement with the second step itself.
            ASSERT_TRUE(wait_for_state(
                [](const ParseNMEAInfo& s) { return s.NMEA09_2ndCommmand_done == 1; }, 5000));
            EXPECT_EQ(snapshot().reply_code, 9);
            ASSERT_TRUE(sim.wait_for_report(step.report, 5000));
        }
        current = step.baud;
        Connected link(sim.device(), current.c_str());
        ASSERT_TRUE(link.ok());
        CMD_Clear_parse_rmc_done();
        ASSERT_TRUE(wait_for_state([](const ParseNMEAInfo& s) { return s.parse_rmc_done; }, 5000));
    }
    EXPECT_EQ(sim.count_reports("\"event\":\"baud\""), 6);
}

TEST(SystemStream, VersionRepliesAndHotStartTtff) {
    ReceiverSim sim({"--time-scale", "0.05", "--customer-version", "CUST-0042"});
    Connected link(sim.device(), "9600");
    ASSERT_TRUE(link.ok());

    ASSERT_NE(CMD_CustomerVersion(), 0);
    ASSERT_TRUE(
        wait_for_state([](const ParseNMEAInfo& s) { return s.parse_customer_fw_ver_done; }, 5000));
    EXPECT_STREQ(snapshot().customer_fw_ver, "CUST-0042");

    ASSERT_NE(CMD_FWVersion(), 0);
    ASSERT_TRUE(wait_for_state([](const ParseNMEAInfo& s) { return s.parse_fw_ver_done; }, 5000));
    ParseNMEAInfo s = snapshot();
    EXPECT_STREQ(s.fw_ver_major, "01");
    EXPECT_STREQ(s.fw_ver_minor, "05");
    EXPECT_STREQ(s.kernel_ver_major, "02");
    EXPECT_STREQ(s.kernel_ver_minor, "03");
    EXPECT_EQ(std::string(s.fsa_ver).substr(0, 4), "1.08");

    CMD_Clear_parse_ttff_done();
    ASSERT_NE(CMD_HotStart(), 0);
    EXPECT_EQ(snapshot().parse_fw_ver_done, 0);
    ASSERT_TRUE(wait_for_state([](const ParseNMEAInfo& st) { return st.parse_fw_ver_done; }, 5000));
    ASSERT_TRUE(wait_for_state([](const ParseNMEAInfo& st) { return st.parse_ttff_done; }, 10000));
    s = snapshot();
    EXPECT_GT(s.ttff, 2.0f);  // hot start: about 3 simulated seconds
    EXPECT_LT(s.ttff, 4.0f);
    EXPECT_TRUE(sim.wait_for_report("\"kind\":\"hot-start\"", 1000));
}

TEST(SystemStream, FaultyLineKeepsTheRecordSane) {
    // Garbage, wrong checksums, over-long lines and a burst beyond the driver's queue.
    ReceiverSim sim({"--fault", "garbage,badsum,longline,burst", "--seed", "7"});
    Connected link(sim.device(), "9600");
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(sim.wait_for_report("\"event\":\"burst\"", 10000));
    ASSERT_TRUE(wait_for_state([](const ParseNMEAInfo& s) { return s.parse_rmc_done; }, 5000));
    const ParseNMEAInfo s = snapshot();
    EXPECT_EQ(std::string(s.utc_time).find("LONGLINE"), std::string::npos);
    EXPECT_LE(s.sats_in_view, 12);
    for (int c = 0; c < 12; ++c) EXPECT_LE(s.sv_snr[c], 99);
}

}  // namespace
