// A firmware download through ser2net's RFC 2217 accepter in the Windows
// build: the service's run (as the program's download dialog and zorvik
// flash drive it) commands the simulator's boot loader at 9600 bps, switches
// the server's device to 115200 through SET-BAUDRATE and sends the image,
// whose 0xFF bytes the telnet layer doubles. The image the boot loader wrote
// (ZORVIK_NET_FLASH_IMAGE) must be the file byte for byte. scripts/wine-test.sh
// starts the server and names it in ZORVIK_NET_FLASH; without it the test
// skips itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "zorvik/service/flash.h"

namespace {

namespace service = zorvik::service;
using Bytes = std::vector<std::uint8_t>;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string temp_file(const std::string& name, const Bytes& data) {
    char dir[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir, n) + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return out ? path : std::string();
}

TEST(Win32NetworkFlash, FirmwareArrivesByteForByteThroughRfc2217) {
    const std::string url = env("ZORVIK_NET_FLASH");
    const std::string image_out = env("ZORVIK_NET_FLASH_IMAGE");
    if (url.empty() || image_out.empty())
        GTEST_SKIP() << "needs the ser2net that scripts/wine-test.sh starts";
    // The smallest firmware image, of random bytes: many a 0xFF among them.
    std::mt19937 gen(7);
    Bytes image(service::RuleFor(service::FlashKind::Firmware).min_size);
    for (auto& b : image) b = static_cast<std::uint8_t>(gen());
    ASSERT_GT(std::count(image.begin(), image.end(), 0xFF), 1000);
    const std::string file = temp_file("zorvik-net-firmware.bin", image);
    ASSERT_FALSE(file.empty());

    ASSERT_NE(COM_Open(url.c_str(), "9600"), 0) << "open error " << COM_LastOpenError();
    service::FlashRequest request;
    request.kind = service::FlashKind::Firmware;
    request.file = file;
    request.port_name = url;
    request.nmea_baud = "9600";
    const service::FlashResult result = service::RunFlash(request);
    EXPECT_EQ(result.outcome, service::FlashOutcome::Completed) << result.message;
    EXPECT_TRUE(result.Uploaded()) << result.message;
    COM_Close();
    DeleteFileA(file.c_str());

    const Bytes written = read_file(image_out);
    EXPECT_EQ(written.size(), image.size());
    EXPECT_TRUE(written == image) << "the boot loader wrote other bytes than the file's";
}

}  // namespace
