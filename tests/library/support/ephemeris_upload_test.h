// The fixture both ephemeris upload tests use: the computer's clock set to a
// known instant (and counted), the receiver's year at 2000 so that the
// computer's clock is taken, a port open on a pseudo-terminal, and an upload
// that returns what reached the port.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>

#include "ZorvikDll.h"
#include "ephemeris_fixtures.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "zorvik_testing.h"

namespace zorvik::test {

// The computer's clock in these tests.
inline constexpr zorvik::UtcTime kComputer{2024, 5, 1, 12, 0, 0};

class EphemerisUploadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_reads = 0;
        zorvik::set_system_clock_for_testing([this] {
            ++clock_reads;
            return kComputer;
        });
        feed_rmc(2000, 1, 1, 0, 0, 0);  // year 2000: the computer's clock is used
        ASSERT_NE(COM_Open(pty.slave_path().c_str(), "115200"), 0);
    }
    void TearDown() override {
        COM_Close();
        zorvik::set_system_clock_for_testing({});
    }

    // Writes the bytes to a new file of the test's folder and returns its path.
    std::string save(const Bytes& data) {
        const std::string path = dir / ("eph" + std::to_string(++files) + ".bin");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
        return path;
    }

    // Runs the upload on a file of these bytes; its result, with what reached the port.
    int upload_with(int (*update)(const char*), const Bytes& file, Bytes& sent) {
        const std::string path = save(file);
        PortCollector collector(pty);
        const int result = update(path.c_str());
        sent = collector.finish();
        return result;
    }

    PtyPair pty;
    TempDir dir;
    int files = 0;
    std::atomic<int> clock_reads{0};
};

}  // namespace zorvik::test
