// UpdateLTE over a real pseudo-terminal: long-term ephemeris files of several
// records made for the test; only the frames of the record valid now may reach
// the master side, byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

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
const std::uint32_t kReceiverNow = file_time(2009, 3, 15, 10, 20, 30);
constexpr std::uint32_t kSpan = 14400;

class UpdateLTETest : public EphemerisUploadTest {
  protected:
    int upload(const Bytes& file, Bytes& sent) { return upload_with(UpdateLTE, file, sent); }
};

const std::vector<Bytes> kFirst = {vbi_frame(30, 1), vbi_frame(40, 2)};
const std::vector<Bytes> kSecond = {vbi_frame(50, 3), vbi_frame(60, 4)};
const std::vector<Bytes> kThird = {vbi_frame(70, 5)};

// Records every four hours; `valid` is the index of the one valid at `now`.
std::vector<LongTermRecord> consecutive(std::uint32_t now, int valid) {
    const std::uint32_t t0 = now - 100 - static_cast<std::uint32_t>(valid) * kSpan;
    return {{t0, kFirst}, {t0 + kSpan, kSecond}, {t0 + 2 * kSpan, kThird}};
}

TEST_F(UpdateLTETest, SendsOnlyTheRecordValidNow) {
    Bytes sent;
    EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow, 1)), sent), 1);
    EXPECT_EQ(sent, concat(kSecond));

    EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow, 0)), sent), 1);
    EXPECT_EQ(sent, concat(kFirst));

    EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow, 2)), sent), 1);
    EXPECT_EQ(sent, concat(kThird));

    // Overlapping records: the first valid one is sent, not the ones after it.
    const std::vector<LongTermRecord> overlapping = {
        {kComputerNow - 20000, kFirst}, {kComputerNow - 10, kSecond}, {kComputerNow - 5, kThird}};
    EXPECT_EQ(upload(long_term_file(overlapping), sent), 1);
    EXPECT_EQ(sent, concat(kSecond));
}

// The header is 27 characters for a byte count up to 999, 28 from 1,000: the
// next record is found behind the expired one only if that is counted right.
class LongTermHeaderTest : public UpdateLTETest, public ::testing::WithParamInterface<long> {};

TEST_P(LongTermHeaderTest, NextRecordFollowsHeaderAndByteCount) {
    const long count = GetParam();
    ASSERT_EQ(long_term_header(1, count).size(), count > 999 ? 28u : 27u);
    const std::vector<LongTermRecord> records = {{kComputerNow - 3 * kSpan, kFirst, count},
                                                 {kComputerNow, kSecond, count}};
    Bytes sent;
    EXPECT_EQ(upload(long_term_file(records), sent), 1);
    EXPECT_EQ(sent, concat(kSecond));
}

INSTANTIATE_TEST_SUITE_P(ByteCounts, LongTermHeaderTest, ::testing::Values(999L, 1000L, 150L));

TEST_F(UpdateLTETest, ReceiverTimeFirstThenTheComputerClock) {
    feed_rmc(2009, 3, 15, 10, 20, 30);
    Bytes sent;
    // Valid by the receiver's time: the computer's clock is not read.
    EXPECT_EQ(upload(long_term_file(consecutive(kReceiverNow, 1)), sent), 1);
    EXPECT_EQ(sent, concat(kSecond));
    EXPECT_EQ(clock_reads, 0);

    // None valid by the receiver's time, one by the computer's clock.
    EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow, 2)), sent), 1);
    EXPECT_EQ(sent, concat(kThird));
    EXPECT_EQ(clock_reads, 1);

    // Neither: the file is scanned twice and nothing is sent.
    EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow + 5 * kSpan, 0)), sent), 0);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(clock_reads, 2);
}

// The check before a download replaces a file walks the records as the
// upload does, with the same two times.
TEST_F(UpdateLTETest, CheckNowAgreesWithTheUpload) {
    feed_rmc(2009, 3, 15, 10, 20, 30);
    // The last record fills the file to its least size: padding after the
    // records would be a record without a header.
    const auto file = [](std::uint32_t now, int valid) {
        auto records = consecutive(now, valid);
        records.back().byte_count = 1000;
        return long_term_file(records);
    };
    const struct {
        const char* name;
        Bytes file;
        int check;
    } cases[] = {
        {"valid by the receiver", file(kReceiverNow, 1), ZORVIK_EPHEMERIS_OK},
        {"valid by the computer", file(kComputerNow, 2), ZORVIK_EPHEMERIS_OK},
        {"every record ahead", file(kComputerNow + 5 * kSpan, 0), ZORVIK_EPHEMERIS_NOT_YET},
        {"every record passed", file(kComputerNow, 9), ZORVIK_EPHEMERIS_EXPIRED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes sent;
        const int uploaded = upload(c.file, sent);
        EXPECT_EQ(CheckLTENow(save(c.file).c_str()), c.check);
        EXPECT_EQ(uploaded == 1, c.check == ZORVIK_EPHEMERIS_OK);
    }
}

TEST_F(UpdateLTETest, ComputerClockWhenTheReceiverHasNoDate) {
    for (bool before_any_rmc : {false, true}) {
        if (before_any_rmc) forget_rmc();
        Bytes sent;
        EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow, 1)), sent), 1);
        EXPECT_EQ(sent, concat(kSecond));
        // All expired by the computer's clock: it is not tried a second time.
        clock_reads = 0;
        EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow - 10 * kSpan, 0)), sent), 0);
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(clock_reads, 1);
    }
}

TEST_F(UpdateLTETest, FutureRecordsAreNotSent) {
    Bytes sent;
    EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow + 200, 0)), sent), 0);
    EXPECT_TRUE(sent.empty());
}

TEST_F(UpdateLTETest, FileSizeLimits) {
    const auto records = consecutive(kComputerNow, 0);
    Bytes sent;
    Bytes small = long_term_file(records, 0);
    ASSERT_LT(small.size(), 1024u);
    EXPECT_EQ(upload(small, sent), 0);
    Bytes big = long_term_file(records, 131073);
    EXPECT_EQ(upload(big, sent), 0);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(clock_reads, 0);
    EXPECT_EQ(UpdateLTE((dir / "absent.bin").c_str()), 0);
    EXPECT_EQ(UpdateLTE(nullptr), 0);

    EXPECT_EQ(upload(long_term_file(records, 131072), sent), 1);
    EXPECT_EQ(sent, concat(kFirst));
}

// Frames of the valid record are sent whole, up to the end of the record: a
// payload above 255 bytes keeps its high length byte, and a short last frame
// is not left behind.
TEST_F(UpdateLTETest, SendsEveryFrameOfTheRecordWhole) {
    const std::vector<Bytes> frames = {vbi_frame(300, 7), vbi_frame(2, 8)};
    const std::vector<LongTermRecord> records = {
        {kComputerNow - 3 * kSpan, kFirst}, {kComputerNow, frames}, {kComputerNow, kThird}};
    const auto start = Clock::now();
    Bytes sent;
    EXPECT_EQ(upload(long_term_file(records), sent), 1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * 100));
    EXPECT_EQ(sent, concat(frames));
}

// A frame above 1,024 bytes or one that runs past its record is not sent and
// ends the upload with 0; the frames before it stay sent.
TEST_F(UpdateLTETest, OversizedOrOverrunningFrameEndsTheUpload) {
    Bytes sent;
    const std::vector<Bytes> too_long = {vbi_frame(20, 1), vbi_frame(1017, 2)};
    EXPECT_EQ(upload(long_term_file({{kComputerNow, too_long}, {kComputerNow, kThird}}), sent), 0);
    EXPECT_EQ(sent, too_long[0]);

    // The record's byte count ends 10 bytes into its second frame.
    const std::vector<Bytes> frames = {vbi_frame(20, 1), vbi_frame(40, 2)};
    const long count = static_cast<long>(frames[0].size() + kJunk.size() + 10);
    Bytes file = long_term_file({{kComputerNow, {frames[0]}, count}});
    const std::string head = long_term_header(kComputerNow, count);
    const std::size_t body = 9 + head.size();  // "LTE 1.0\r\n" then the header
    Bytes inner = concat({frames[0], kJunk, frames[1]});
    std::copy(inner.begin(), inner.end(), file.begin() + static_cast<long>(body));
    EXPECT_EQ(upload(file, sent), 0);
    EXPECT_EQ(sent, frames[0]);
}

TEST_F(UpdateLTETest, MalformedByteCountsEndTheScan) {
    Bytes sent;
    // A negative count would move the scan backwards.
    const auto start = Clock::now();
    EXPECT_EQ(
        upload(long_term_file({{kComputerNow - 3 * kSpan, kFirst, -27}, {kComputerNow, kSecond}}),
               sent),
        0);
    EXPECT_TRUE(sent.empty());
    // A huge count points past the end of the file.
    Bytes file = long_term_file({{kComputerNow - 3 * kSpan, kFirst}, {kComputerNow, kSecond}});
    const std::string huge = "99999999999999999999";
    std::copy(huge.begin(), huge.end(), file.begin() + 9 + 22);
    EXPECT_EQ(upload(file, sent), 0);
    EXPECT_TRUE(sent.empty());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

// The reader thread keeps parsing while an upload reads the clock (run under
// ThreadSanitizer as well).
TEST_F(UpdateLTETest, ReaderThreadParsesDuringTheUpload) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            feed_rmc(2000, 1, 1, 0, 0, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    Bytes sent;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(upload(long_term_file(consecutive(kComputerNow, 1)), sent), 1);
        EXPECT_EQ(sent, concat(kSecond));
    }
    done = true;
    reader.join();
}

}  // namespace
