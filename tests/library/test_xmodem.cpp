// The XMODEM engine over a real pseudo-terminal: the library opens the slave
// side, a thread of the test plays the receiver's boot loader on the master side
// and answers each block as its script says.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "zorvik_testing.h"

namespace {

using zorvik::test::PtyPair;
using zorvik::test::TempDir;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15;
constexpr int kSilent = -1;

// One block as the peer received it; `eot` when EOT followed it before the
// peer had answered (it went out in the same write).
struct Block {
    Bytes bytes;
    bool eot = false;
};

// The boot loader's side of a transfer. `answer(i)` gives the byte sent after
// block i (or kSilent); `eot_answer` is sent after an EOT. The peer waits for
// the EOT before answering block `last_block`, so that an EOT sent only after
// the answer would be seen as missing.
class LoaderPeer {
  public:
    // on_block runs on the peer thread when block i has arrived, before it is answered.
    LoaderPeer(PtyPair& pty, std::function<int(std::size_t)> answer, int eot_answer = kAck,
               std::size_t last_block = SIZE_MAX, std::function<void(std::size_t)> on_block = {})
        : pty_(pty),
          answer_(std::move(answer)),
          on_block_(std::move(on_block)),
          eot_answer_(eot_answer),
          last_(last_block) {
        thread_ = std::thread([this] { run(); });
    }
    ~LoaderPeer() { stop(); }

    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::vector<Block> blocks() {
        std::lock_guard lock(m_);
        return blocks_;
    }
    int lone_eots() const { return lone_eots_; }
    int stray_bytes() const { return stray_; }

  private:
    void send(int byte) {
        if (byte == kSilent) return;
        const auto b = static_cast<std::uint8_t>(byte);
        pty_.write(&b, 1);
    }
    void run() {
        while (!stop_) {
            Bytes first = pty_.read_exact(1, 50);
            if (first.empty()) continue;
            const std::uint8_t lead = first[0];
            if (lead == kEot) {
                ++lone_eots_;
                send(eot_answer_);
                continue;
            }
            if (lead != kSoh && lead != kStx) {
                ++stray_;
                continue;
            }
            const std::size_t rest = (lead == kSoh ? 128 : 1024) + 3;
            Block block;
            block.bytes = first;
            Bytes tail = pty_.read_exact(rest, 2000);
            block.bytes.insert(block.bytes.end(), tail.begin(), tail.end());
            std::size_t index;
            {
                std::lock_guard lock(m_);
                index = blocks_.size();
            }
            if (index == last_) {
                Bytes eot = pty_.read_exact(1, 1000);
                block.eot = eot.size() == 1 && eot[0] == kEot;
            }
            {
                std::lock_guard lock(m_);
                blocks_.push_back(block);
            }
            if (on_block_) on_block_(index);
            send(answer_(index));
            if (block.eot) send(eot_answer_);
        }
    }

    PtyPair& pty_;
    std::function<int(std::size_t)> answer_;
    std::function<void(std::size_t)> on_block_;
    int eot_answer_;
    std::size_t last_;
    std::mutex m_;
    std::vector<Block> blocks_;
    std::atomic<int> lone_eots_{0};
    std::atomic<int> stray_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int ack_all(std::size_t) {
    return kAck;
}

// A file of `size` bytes whose contents differ from block to block.
Bytes pattern(std::size_t size, std::uint32_t seed = 1) {
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

std::string write_file(const TempDir& dir, const std::string& name, const Bytes& data) {
    const std::string path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    return path;
}

// Checks one block's frame: start byte, number and complement, data (the
// source bytes then 0x1A padding), the 8-bit sum of all data bytes.
void expect_block(const Block& block, std::uint8_t start, std::size_t data_size,
                  std::uint8_t number, const std::uint8_t* source, std::size_t count) {
    ASSERT_EQ(block.bytes.size(), data_size + 4);
    EXPECT_EQ(block.bytes[0], start);
    EXPECT_EQ(block.bytes[1], number);
    EXPECT_EQ(block.bytes[2], static_cast<std::uint8_t>(0xFF - number));
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < data_size; ++i) {
        const std::uint8_t expected = i < count ? source[i] : 0x1A;
        ASSERT_EQ(block.bytes[3 + i], expected) << "data byte " << i << " of block " << +number;
        sum = static_cast<std::uint8_t>(sum + expected);
    }
    EXPECT_EQ(block.bytes[3 + data_size], sum);
}

class XmodemTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(COM_Open(pty.slave_path().c_str(), "115200"), 0); }
    void TearDown() override { COM_Close(); }

    XmodemPPInfo progress() {
        XmodemPPInfo info{-1, -1, -1};
        GetXmodemPPInfo(&info);
        return info;
    }

    PtyPair pty;
    TempDir dir;
};

struct FileCase {
    std::size_t size;
    std::size_t blocks;
};

class Xmodem1KFileTest : public XmodemTest, public ::testing::WithParamInterface<FileCase> {};

// Every block of the file as the receiver gets it, EOT with the last block
// only, success once the receiver acknowledges the EOT.
TEST_P(Xmodem1KFileTest, SendsTheFileInPaddedNumberedBlocks) {
    const FileCase c = GetParam();
    const Bytes data = pattern(c.size, static_cast<std::uint32_t>(c.size));
    const std::string path = write_file(dir, "image.bin", data);
    LoaderPeer peer(pty, ack_all, kAck, c.blocks - 1);

    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_OK);
    peer.stop();

    const auto blocks = peer.blocks();
    ASSERT_EQ(blocks.size(), c.blocks);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t offset = i * 1024;
        const std::size_t count = std::min<std::size_t>(1024, c.size - offset);
        expect_block(blocks[i], kStx, 1024, static_cast<std::uint8_t>(i + 1), data.data() + offset,
                     count);
        EXPECT_EQ(blocks[i].eot, i + 1 == c.blocks) << "block " << i;
    }
    EXPECT_EQ(peer.lone_eots(), 0);
    EXPECT_EQ(peer.stray_bytes(), 0);
    EXPECT_EQ(progress().percent_1k, 100);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Xmodem1KFileTest,
                         ::testing::Values(FileCase{2048, 2},  // last block full, EOT behind it
                                           FileCase{1500, 2},  // 476 bytes and 548 of 0x1A
                                           FileCase{1024, 1},  // one full block
                                           FileCase{1025, 2},  // one byte in the last block
                                           FileCase{1, 1},     // 1023 bytes of padding
                                           FileCase{16384, 16}),
                         [](const auto& p) { return std::to_string(p.param.size); });

TEST_F(XmodemTest, EmptyFileSendsNothingAndTakesItsResultFromOnePoll) {
    const std::string path = write_file(dir, "empty.bin", {});
    pty.write("\x06", 1);
    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_OK);
    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_NO_ACK);  // nobody answers the second time
    EXPECT_TRUE(pty.read_burst(100, 20).empty());
}

TEST_F(XmodemTest, BlockNumberWrapsFrom255To0) {
    const std::size_t blocks = 258;
    const Bytes data = pattern(blocks * 1024 - 100);
    const std::string path = write_file(dir, "big.bin", data);
    LoaderPeer peer(pty, ack_all, kAck, blocks - 1);

    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_OK);
    peer.stop();
    const auto got = peer.blocks();
    ASSERT_EQ(got.size(), blocks);
    EXPECT_EQ(got[254].bytes[1], 255);
    EXPECT_EQ(got[254].bytes[2], 0x00);
    EXPECT_EQ(got[255].bytes[1], 0);  // block 256
    EXPECT_EQ(got[255].bytes[2], 0xFF);
    EXPECT_EQ(got[256].bytes[1], 1);
    expect_block(got[255], kStx, 1024, 0, data.data() + 255 * 1024, 1024);
    EXPECT_TRUE(got[257].eot);
}

struct FailureCase {
    const char* name;
    int block_answer;  // to the first block
    int eot_answer;
    std::size_t size;
    std::size_t blocks_sent;
};

class Xmodem1KFailureTest : public XmodemTest, public ::testing::WithParamInterface<FailureCase> {};

// No retries: an unanswered block ends the transfer with "no ACK" after its second,
// and nothing is sent again.
TEST_P(Xmodem1KFailureTest, EndsWith514WithoutResending) {
    const FailureCase c = GetParam();
    const std::string path = write_file(dir, "image.bin", pattern(c.size));
    LoaderPeer peer(
        pty, [&](std::size_t i) { return i == 0 ? c.block_answer : kAck; }, c.eot_answer,
        c.size <= 1024 ? 0 : SIZE_MAX);

    const auto start = Clock::now();
    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_NO_ACK);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(950));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    peer.stop();
    EXPECT_EQ(peer.blocks().size(), c.blocks_sent);
    EXPECT_EQ(peer.lone_eots(), 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, Xmodem1KFailureTest,
                         ::testing::Values(FailureCase{"NakToFirstBlock", kNak, kAck, 4096, 1},
                                           FailureCase{"SilenceToFirstBlock", kSilent, kAck, 4096,
                                                       1},
                                           FailureCase{"OtherByteToFirstBlock", 'C', kAck, 4096, 1},
                                           FailureCase{"NoAckOfEot", kAck, kSilent, 1024, 1},
                                           FailureCase{"NakToEot", kAck, kNak, 1024, 1}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(XmodemTest, MissingFileIs512AndSendsNothing) {
    EXPECT_EQ(Xmodem_1K((dir / "absent.bin").c_str()), ZORVIK_XMODEM_FILE_CANNOT_OPEN);
    EXPECT_EQ(Xmodem_1K(dir.path().c_str()),
              ZORVIK_XMODEM_FILE_CANNOT_OPEN);  // a directory is not a file
    EXPECT_EQ(Xmodem_1K(""), ZORVIK_XMODEM_FILE_CANNOT_OPEN);
    EXPECT_EQ(Xmodem_1K(nullptr), ZORVIK_XMODEM_FILE_CANNOT_OPEN);
    EXPECT_TRUE(pty.read_burst(100, 20).empty());
}

TEST_F(XmodemTest, ClosedPortIs513AtOnce) {
    const std::string path = write_file(dir, "image.bin", pattern(3000));
    COM_Close();
    const auto start = Clock::now();
    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_WRITE_FAILED);
    EXPECT_EQ(Xmodem(0), ZORVIK_XMODEM_WRITE_FAILED);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));  // no poll was waited
}

// The GUI thread reads the progress while the transfer runs: whole values that
// never go back, 6 once the first block of 16 is acknowledged, 100 at the end.
TEST_F(XmodemTest, ProgressAfterEachAcknowledgedBlock) {
    const std::string path = write_file(dir, "fk.bin", pattern(16384));
    std::vector<int> at_block(16, -1);
    LoaderPeer peer(pty, ack_all, kAck, 15,
                    [&](std::size_t i) { at_block[i] = progress().percent_1k; });

    // The figure of an earlier transfer stays until the first block is
    // acknowledged; from then on it only grows.
    std::atomic<bool> done{false};
    std::atomic<bool> started{false};
    std::vector<int> seen;
    std::thread reader([&] {
        seen.push_back(progress().percent_1k);
        started = true;
        while (!done) {
            const int p = progress().percent_1k;
            if (p != seen.back()) seen.push_back(p);
            std::this_thread::yield();
        }
        if (progress().percent_1k != seen.back()) seen.push_back(progress().percent_1k);
    });
    while (!started) std::this_thread::yield();
    EXPECT_EQ(Xmodem_1K(path.c_str()), ZORVIK_XMODEM_OK);
    done = true;
    reader.join();
    peer.stop();
    EXPECT_TRUE(std::is_sorted(seen.begin() + 1, seen.end()));
    EXPECT_EQ(seen.back(), 100);

    // When block i arrives, i blocks of 1024 are acknowledged.
    EXPECT_EQ(at_block[1], 6);
    EXPECT_EQ(at_block[8], 50);
    EXPECT_EQ(at_block[15], 93);
    EXPECT_EQ(progress().percent_1k, 100);
}

struct ImageCase {
    int selector;
    std::size_t size;
    std::size_t blocks;
    std::size_t last_count;
};

class XmodemImageTest : public XmodemTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(XmodemImageTest, SendsTheSelectedLoaderImageIn128ByteBlocks) {
    const ImageCase c = GetParam();
    const auto image = zorvik::loader_image(c.selector);
    ASSERT_EQ(image.size(), c.size);
    LoaderPeer peer(pty, ack_all, kSilent, c.blocks - 1);

    EXPECT_EQ(Xmodem(c.selector), ZORVIK_XMODEM_IMAGE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.stop();

    const auto blocks = peer.blocks();
    ASSERT_EQ(blocks.size(), c.blocks);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t count = i + 1 == c.blocks ? c.last_count : 128;
        expect_block(blocks[i], kSoh, 128, static_cast<std::uint8_t>(i + 1), image.data() + i * 128,
                     count);
        EXPECT_EQ(blocks[i].eot, i + 1 == c.blocks);
    }
    EXPECT_EQ(progress().percent_128, 100);
}

INSTANTIATE_TEST_SUITE_P(Images, XmodemImageTest,
                         ::testing::Values(ImageCase{259, 2720, 22, 32},
                                           ImageCase{0, 3576, 28, 120}, ImageCase{1, 3576, 28, 120},
                                           ImageCase{-259, 3576, 28, 120}),
                         [](const auto& p) {
                             return "Selector" + std::to_string(p.param.selector + 1000);
                         });

TEST_F(XmodemTest, UnacknowledgedImageBlockIs257) {
    LoaderPeer peer(
        pty, [](std::size_t i) { return i < 3 ? kAck : kNak; }, kSilent);
    EXPECT_EQ(Xmodem(259), ZORVIK_XMODEM_IMAGE_NO_ACK);
    peer.stop();
    EXPECT_EQ(peer.blocks().size(), 4u);
}

TEST_F(XmodemTest, PollsCountOnlyTheirOwnByteArrivingWithinASecond) {
    // Nothing arrives: no acknowledgement, after about one second.
    auto start = Clock::now();
    EXPECT_EQ(PollingXmodem_ACK(), 0);
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::milliseconds(3000));

    // Other bytes (a NAK included) are passed over.
    pty.write("\x15\x43\x00\x06", 4);
    EXPECT_EQ(PollingXmodem_ACK(), 1);
    pty.write("\x06\x06\x43\x15", 4);
    EXPECT_EQ(PollingXmodem_NAK(), 1);
    EXPECT_EQ(PollingXmodem_NAK(), 0);

    // A byte that comes late in the second still counts.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        pty.write("\x15", 1);
    });
    EXPECT_EQ(PollingXmodem_NAK(), 1);
    late.join();
    EXPECT_EQ(progress().nak_received, 0);  // raised only while the poll returns
}

TEST_F(XmodemTest, PollsWithoutAPortReturnZeroAfterTheirSecond) {
    COM_Close();
    const auto start = Clock::now();
    EXPECT_EQ(PollingXmodem_ACK(), 0);
    EXPECT_EQ(PollingXmodem_NAK(), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1900));
}

TEST(XmodemProgressRecord, GetXmodemPPLeavesTheThirdFieldGetXmodemPPInfoCopiesIt) {
    XmodemPPInfo info{-7, -7, -7};
    GetXmodemPP(&info);
    EXPECT_NE(info.percent_1k, -7);
    EXPECT_NE(info.percent_128, -7);
    EXPECT_EQ(info.nak_received, -7);
    GetXmodemPPInfo(&info);
    EXPECT_EQ(info.nak_received, 0);
    GetXmodemPP(nullptr);
    GetXmodemPPInfo(nullptr);
}

}  // namespace
