// The firmware download run against the simulator's boot loader, and the file
// check the command line relies on.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "service_peers.h"
#include "temp_dir.h"
#include "zorvik/service/flash.h"

namespace {

namespace svc = zorvik::service;
using zorvik::test::TempDir;

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    std::uint32_t x = 0x2468ACEu;
    for (char& c : data) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& data) {
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

TEST(FlashFileCheck, SizesAndUnusableFiles) {
    TempDir dir;
    const std::string not_selected = svc::flash_text::kFileNotSelected;
    const std::string fw_size = "Firmware size is not correct!(NG)";
    struct Case {
        svc::FlashKind kind;
        std::string path;
        std::string message;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {svc::FlashKind::Firmware, WriteFile(dir, "low.bin", std::string(481280, 'a')), ""},
        {svc::FlashKind::Firmware, WriteFile(dir, "high.bin", std::string(491520, 'a')), ""},
        {svc::FlashKind::Firmware, WriteFile(dir, "short.bin", std::string(481279, 'a')), fw_size},
        {svc::FlashKind::Firmware, WriteFile(dir, "long.bin", std::string(491521, 'a')), fw_size},
        {svc::FlashKind::Kernel, WriteFile(dir, "k.bin", std::string(16383, 'a')),
         "Flash Kernel size is not correct!(NG)"},
        {svc::FlashKind::AllImage, WriteFile(dir, "all.bin", std::string(8192, 'a')),
         "All-Image size is not correct!(NG)"},
        {svc::FlashKind::Fsa, "", not_selected},
        {svc::FlashKind::Fsa, dir / "missing.bin", not_selected},
        {svc::FlashKind::Fsa, dir.path(), not_selected},
    };
    for (const Case& c : cases) {
        const auto message = svc::CheckFlashFile(c.kind, c.path);
        EXPECT_EQ(message.value_or(""), c.message) << c.path;
    }
}

TEST(FlashRun, ImageArrivesWholeAndThePortReturnsToTheNmeaRate) {
    TempDir dir;
    const std::string image = Pattern(8192);
    const std::string file = WriteFile(dir, "fsa.bin", image);
    ReceiverSim sim({"--time-scale", "0.25"});
    ASSERT_NE(COM_Open(sim.device().c_str(), "9600"), 0);

    svc::FlashRequest request;
    request.kind = svc::FlashKind::Fsa;
    request.file = file;
    request.port_name = sim.device();
    request.nmea_baud = "9600";
    std::vector<std::string> statuses, rates;
    std::mutex progress_mutex;
    std::vector<svc::FlashProgress> progress;
    svc::FlashHooks hooks;
    hooks.status = [&](const std::string& s) { statuses.push_back(s); };
    hooks.baud_changed = [&](const std::string& b) { rates.push_back(b); };
    hooks.progress = [&](const svc::FlashProgress& p) {
        std::lock_guard lock(progress_mutex);
        progress.push_back(p);
    };

    const svc::FlashResult result = svc::RunFlash(request, hooks);
    EXPECT_EQ(result.outcome, svc::FlashOutcome::Completed);
    EXPECT_TRUE(result.Uploaded());
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Starting...", "Flash is being erased...",
                                        "File is being transferred...", "   File upload OK!(OK)"}));
    EXPECT_EQ(rates, (std::vector<std::string>{"9600", "115200", "9600"}));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().percent, 100);
    EXPECT_EQ(progress.back().bytes_sent, image.size());

    // The programming sentence went out twice before the loader began to erase.
    int before_erase = 0;
    for (const std::string& line : sim.report_lines()) {
        if (line.find("\"erasing\"") != std::string::npos) break;
        if (line.find("PKVX11,1,0,6,2,2*") != std::string::npos) ++before_erase;
    }
    EXPECT_EQ(before_erase, 2);
    ASSERT_TRUE(sim.wait_for_report("\"image\"", 5000));
    EXPECT_EQ(ReadBytes(sim.image_path()), image);
    EXPECT_EQ(GetComPort_connected_Status(), 1);
    COM_Close();
}

}  // namespace
