// UpdateBE over a real pseudo-terminal: broadcast ephemeris files made for the
// test, the computer's clock set to the second, the receiver's time given by an
// RMC sentence; the frames that arrive on the master side are compared byte for
// byte with those the file holds. The upload's pauses are real.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

#include "ZorvikDll.h"
#include "ephemeris_fixtures.h"
#include "ephemeris_upload_test.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "zorvik_testing.h"

namespace {

using namespace zorvik::test;
using Clock = std::chrono::steady_clock;

// The computer's clock (kComputer) on the files' scale.
const std::uint32_t kComputerNow = file_time(2024, 5, 1, 12, 0, 0);
// A receiver time far from the computer's, to tell the two apart.
const std::uint32_t kReceiverNow = file_time(2009, 3, 15, 10, 20, 30);

class UpdateBETest : public EphemerisUploadTest {
  protected:
    int upload(const Bytes& file, Bytes& sent) { return upload_with(UpdateBE, file, sent); }
};

const std::vector<Bytes> kFrames = {vbi_frame(40, 1), vbi_frame(72, 2)};

struct WindowCase {
    const char* name;
    long long offset;  // file time T = now + offset
    int result;
    int check;  // CheckBENow on the same file: it must agree with the upload
};

class BroadcastWindowTest : public UpdateBETest,
                            public ::testing::WithParamInterface<WindowCase> {};

// Valid while T <= now <= T + 14,400, both ends included.
TEST_P(BroadcastWindowTest, SendsOnlyInsideTheFourHourWindow) {
    const WindowCase c = GetParam();
    const auto t = static_cast<std::uint32_t>(kComputerNow + c.offset);
    Bytes sent;
    const Bytes file = broadcast_file("BE 1.0\n", t, kFrames);
    EXPECT_EQ(upload(file, sent), c.result);
    EXPECT_EQ(sent, c.result ? concat(kFrames) : Bytes{});
    EXPECT_GE(clock_reads, 1);
    EXPECT_EQ(CheckBENow(save(file).c_str()), c.check);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, BroadcastWindowTest,
    ::testing::Values(WindowCase{"Now", 0, 1, ZORVIK_EPHEMERIS_OK},
                      WindowCase{"FourHoursAgo", -14400, 1, ZORVIK_EPHEMERIS_OK},
                      WindowCase{"OneSecondTooOld", -14401, 0, ZORVIK_EPHEMERIS_EXPIRED},
                      WindowCase{"OneSecondAhead", 1, 0, ZORVIK_EPHEMERIS_NOT_YET}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(UpdateBETest, ReceiverTimeRulesFromYear2008) {
    feed_rmc(2009, 3, 15, 10, 20, 30);
    Bytes sent;
    EXPECT_EQ(upload(broadcast_file("BE\n", kReceiverNow - 60, kFrames), sent), 1);
    EXPECT_EQ(sent, concat(kFrames));
    EXPECT_EQ(clock_reads, 0);
    // Valid by the computer's clock only: refused.
    EXPECT_EQ(upload(broadcast_file("BE\n", kComputerNow, kFrames), sent), 0);
    EXPECT_TRUE(sent.empty());
}

TEST_F(UpdateBETest, BeforeAnyRmcTheComputerClockIsUsed) {
    forget_rmc();
    Bytes sent;
    EXPECT_EQ(upload(broadcast_file("BE\n", kComputerNow - 5, kFrames), sent), 1);
    EXPECT_EQ(sent, concat(kFrames));
    EXPECT_GE(clock_reads, 1);
}

// Files outside 2,048..8,192 bytes are refused before any time is read, and
// without the pause.
TEST_F(UpdateBETest, FileSizeLimits) {
    const auto t = kComputerNow;
    Bytes sent;
    const auto start = Clock::now();
    EXPECT_EQ(upload(broadcast_file("BE\n", t, kFrames, 2047), sent), 0);
    EXPECT_EQ(upload(broadcast_file("BE\n", t, kFrames, 8193), sent), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(clock_reads, 0);
    EXPECT_EQ(UpdateBE((dir / "absent.bin").c_str()), 0);

    EXPECT_EQ(upload(broadcast_file("BE\n", t, kFrames, 2048), sent), 1);
    EXPECT_EQ(sent, concat(kFrames));
    EXPECT_EQ(upload(broadcast_file("BE\n", t, kFrames, 8192), sent), 1);
    EXPECT_EQ(sent, concat(kFrames));
}

// The time's ten digits follow the first line feed among bytes 0 to 17; without
// one they are bytes 19 to 28.
TEST_F(UpdateBETest, TimeFollowsTheFirstLine) {
    for (const std::string& first :
         {std::string("\n"), std::string(16, 'B') + "\n", std::string(17, 'B') + "\n",
          std::string(18, 'B') + "\n", std::string(19, 'B')}) {
        Bytes sent;
        EXPECT_EQ(upload(broadcast_file(first, kComputerNow, kFrames), sent), 1)
            << first.size() << "-byte first line";
        EXPECT_EQ(sent, concat(kFrames));
    }
    // A line feed at byte 4 of a long line: the digits are taken from byte 5 on.
    Bytes sent;
    EXPECT_EQ(upload(broadcast_file("BE 1\nxxxxxxxxxxxxxxxxxxxxxxxx", kComputerNow, kFrames), sent),
              0);
}

// Bytes between frames are passed over one at a time, a lone 0x81 included;
// each frame is followed by its 150 ms pause, the first by 1000 ms before it.
TEST_F(UpdateBETest, SkipsBytesBetweenFramesAndKeepsItsPace) {
    const std::vector<Bytes> frames = {vbi_frame(0, 3), vbi_frame(300, 4), vbi_frame(1016, 5),
                                       vbi_frame(1, 6)};
    const auto start = Clock::now();
    Bytes sent;
    EXPECT_EQ(upload(broadcast_file("BE\n", kComputerNow, frames), sent), 1);
    using namespace zorvik::ephemeris;
    EXPECT_GE(Clock::now() - start,
              std::chrono::milliseconds(kBroadcastFirstPauseMs + 4 * kBroadcastFramePauseMs));
    EXPECT_EQ(sent, concat(frames));
}

TEST_F(UpdateBETest, FileWithoutSyncPairSendsNothing) {
    Bytes sent;
    EXPECT_EQ(upload(broadcast_file("BE\n", kComputerNow, {}), sent), 0);
    EXPECT_TRUE(sent.empty());
}

// A frame above 1,024 bytes, or one that runs past the end of the file, is not
// sent and ends the upload with 0; the frames before it stay sent.
TEST_F(UpdateBETest, OversizedOrCutOffFrameEndsTheUpload) {
    Bytes sent;
    const std::vector<Bytes> too_long = {vbi_frame(10, 1), vbi_frame(1017, 2), vbi_frame(10, 3)};
    EXPECT_EQ(upload(broadcast_file("BE\n", kComputerNow, too_long), sent), 0);
    EXPECT_EQ(sent, too_long[0]);

    // The last frame claims 200 payload bytes; the file ends 50 bytes into it.
    Bytes file = broadcast_file("BE\n", kComputerNow, {vbi_frame(10, 1)}, 2048);
    const Bytes cut = vbi_frame(200, 2);
    std::copy(cut.begin(), cut.begin() + 58, file.end() - 58);
    EXPECT_EQ(upload(file, sent), 0);
    EXPECT_EQ(sent, vbi_frame(10, 1));

    // A sync pair in the file's last five bytes leaves no room for a length.
    file = broadcast_file("BE\n", kComputerNow, {vbi_frame(10, 1)}, 2048);
    file[2048 - 6] = 0x81;
    file[2048 - 5] = 0xFF;
    EXPECT_EQ(upload(file, sent), 0);
    EXPECT_EQ(sent, vbi_frame(10, 1));
}

TEST_F(UpdateBETest, ClosedPortFailsAfterItsPause) {
    const std::string path = save(broadcast_file("BE\n", kComputerNow, kFrames));
    COM_Close();
    const auto start = Clock::now();
    EXPECT_EQ(UpdateBE(path.c_str()), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2000));
}

}  // namespace
