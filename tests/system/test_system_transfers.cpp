// Transfers into the receiver simulator: a firmware file over XMODEM-1K into
// its boot loader after a programming sentence, and a broadcast ephemeris
// upload as VBI frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "system_reader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/zorvik-system-XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string write_random_file(const TempDir& dir, std::size_t size, unsigned seed) {
    Bytes data(size);
    std::mt19937 rng(seed);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::string path = dir.file("firmware-" + std::to_string(size) + ".bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    return path;
}

bool wait_for_nak(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline)
        if (PollingXmodem_NAK() == 1) return true;
    return false;
}

// The firmware download's sequence: the programming sentence twice at the NMEA
// rate, reopen at 115200, wait for the loader's NAK, send the file, reopen at
// the NMEA rate.
TEST(SystemTransfers, FirmwareFileLandsInTheBootLoaderImage) {
    TempDir dir;
    const struct {
        std::size_t size;
        unsigned seed;
    } cases[] = {{16384, 1}, {1500, 2}};
    ReceiverSim sim({"--time-scale", "0.05"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string file = write_random_file(dir, c.size, c.seed);
        const int images_before = sim.count_reports("\"event\":\"image\"");
        ASSERT_NE(COM_Open(sim.device().c_str(), "9600"), 0);
        ASSERT_NE(CMD_Prog_FK(), 0);
        ASSERT_NE(CMD_Prog_FK(), 0);
        COM_Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_NE(COM_Open(sim.device().c_str(), "115200"), 0);
        ASSERT_TRUE(wait_for_nak(5000));
        EXPECT_EQ(Xmodem_1K(file.c_str()), ZORVIK_XMODEM_OK);
        COM_Close();

        ASSERT_TRUE(sim.wait_for_report("\"state\":\"done\"", 3000));
        ASSERT_EQ(sim.count_reports("\"event\":\"image\""), images_before + 1);
        const Bytes sent = read_file(file);
        const Bytes image = read_file(sim.image_path());
        ASSERT_EQ(image.size(), (c.size + 1023) / 1024 * 1024);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), image.begin()));
        for (std::size_t i = sent.size(); i < image.size(); ++i) ASSERT_EQ(image[i], 0x1A) << i;
        EXPECT_EQ(sim.count_reports("\"ok\":false"), 0);

        // Back at the NMEA rate the receiver talks again.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const int h = COM_Open(sim.device().c_str(), "9600");
        ASSERT_NE(h, 0);
        {
            CMD_Clear_parse_rmc_done();
            SystemReader reader(h);
            EXPECT_TRUE(
                wait_for_state([](const ParseNMEAInfo& s) { return s.parse_rmc_done; }, 5000));
            COM_Close();
        }
    }
    EXPECT_TRUE(sim.wait_for_report("\"target\":1", 100));
}

TEST(SystemTransfers, LoaderThatVanishesFailsTheTransfer) {
    TempDir dir;
    const std::string file = write_random_file(dir, 8192, 3);
    ReceiverSim sim({"--time-scale", "0.05", "--fault", "vanish-after-blocks=3"});
    ASSERT_NE(COM_Open(sim.device().c_str(), "9600"), 0);
    CMD_Prog_AP();
    COM_Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_NE(COM_Open(sim.device().c_str(), "115200"), 0);
    ASSERT_TRUE(wait_for_nak(5000));
    const int result = Xmodem_1K(file.c_str());
    EXPECT_TRUE(result == ZORVIK_XMODEM_WRITE_FAILED || result == ZORVIK_XMODEM_NO_ACK) << result;
    COM_Close();
    EXPECT_EQ(sim.count_reports("\"event\":\"block\""), 3);
    for (int i = 0; i < 100 && sim.running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(sim.running());
}

// The broadcast file's frames as the upload walks them: from the first sync
// pair after the first line, frame by frame.
std::vector<std::string> be_frames_hex(const Bytes& data) {
    std::size_t i = 0;
    while (i < 18 && i < data.size() && data[i] != '\n') ++i;
    std::size_t q = i;
    while (q + 1 < data.size() && !(data[q] == 0x81 && data[q + 1] == 0xFF)) ++q;
    std::vector<std::string> frames;
    while (q + 4 < data.size()) {
        if (data[q] == 0x81 && data[q + 1] == 0xFF && q + 5 < data.size()) {
            const std::size_t len = 8 + (data[q + 4] | (data[q + 5] << 8));
            if (q + len > data.size()) break;
            static const char* digits = "0123456789abcdef";
            std::string hex;
            for (std::size_t k = q; k < q + len; ++k) {
                hex += digits[data[k] >> 4];
                hex += digits[data[k] & 15];
            }
            frames.push_back(hex);
            q += len;
        } else {
            ++q;
        }
    }
    return frames;
}

TEST(SystemTransfers, BroadcastEphemerisArrivesAsTheFilesFrames) {
    TempDir dir;
    const std::string be = dir.file("BE.bin");
    const std::string cmd =
        std::string(ZORVIK_SYSTEM_PYTHON) + " " + ZORVIK_AGPS_SERVER + " --write-be " + be;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::vector<std::string> expected = be_frames_hex(read_file(be));
    ASSERT_GE(expected.size(), 10u);

    ReceiverSim sim;
    const int h = COM_Open(sim.device().c_str(), "9600");
    ASSERT_NE(h, 0);
    SystemReader reader(h);  // the program's reader keeps parsing during the upload
    ASSERT_TRUE(wait_for_state([](const ParseNMEAInfo& s) { return s.parse_rmc_done; }, 5000));
    ASSERT_NE(CMD_NMEAToVBI_Input(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(UpdateBE(be.c_str()), 1);
    ASSERT_NE(CMD_VBIToNMEA_Input(), 0);
    ASSERT_TRUE(sim.wait_for_report("\"state\":\"off\"", 5000));

    std::vector<std::string> recorded;
    for (const std::string& line : sim.report_lines())
        if (line.find("\"event\":\"frame\"") != std::string::npos)
            recorded.push_back(report_field(line, "hex"));
    EXPECT_EQ(recorded, expected);

    // NMEA input again: the receiver answers a command.
    ASSERT_NE(CMD_FWVersion(), 0);
    EXPECT_TRUE(wait_for_state([](const ParseNMEAInfo& s) { return s.parse_fw_ver_done; }, 5000));
    COM_Close();
}

}  // namespace
