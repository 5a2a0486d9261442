// The reading loop both programs run, and the steps of a baud-rate change,
// over a real pseudo-terminal: the test plays the receiver on its master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BaudChange.h"
#include "LineReader.h"
#include "PortLink.h"
#include "pty_pair.h"
#include "record_helpers.h"

namespace {

namespace link = zorvik::link;
using zorvik::test::PtyPair;

struct Seen {
    std::vector<std::string> raw;
    std::vector<std::string> text;
};

link::LineSink Collect(Seen& seen) {
    return [&seen](const link::Line& line) {
        seen.raw.emplace_back(line.raw);
        seen.text.emplace_back(line.text);
        return link::Next::Continue;
    };
}

// What a recording keeps (raw) and what the parser and terminal get (text).
TEST(LineReader, HandsOnEachLineRawAndCut) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> raw;
        std::vector<std::string> text;
    };
    const Case cases[] = {
        {"crlf", "$A*00\r\n", {"$A*00\r\n"}, {"$A*00"}},
        {"noise before the $", "xx\n$B*01\r\n", {"$B*01\r\n"}, {"$B*01"}},
        {"$ restarts a line", "$C,1$D*02\r\n", {"$D*02\r\n"}, {"$D*02"}},
        {"over-long line dropped whole",
         "$" + std::string(600, 'x') + "\r\n$E\r\n",
         {"$E\r\n"},
         {"$E"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        link::LineReader reader(link::LineReader::Backlog::Keep);
        Seen seen;
        for (unsigned char byte : c.bytes) reader.Feed(byte, Collect(seen));
        EXPECT_EQ(seen.raw, c.raw);
        EXPECT_EQ(seen.text, c.text);
    }
}

class OverPty : public ::testing::Test {
  protected:
    void SetUp() override {
        zorvik::test::reset_record();
        handle_ = link::OpenPort(pty_.slave_path(), "9600").handle;
        ASSERT_NE(handle_, 0);
    }
    void TearDown() override { link::ClosePort(); }

    // Runs the loop until a handler stops it; the events it reported, in order.
    std::vector<link::Event> Run(const link::LineSink& on_line, link::Event stop_on) {
        std::vector<link::Event> events;
        link::ReadLoop loop;
        loop.stop = [] { return false; };
        loop.handle = [this] { return zorvik::serial::Handle{handle_}; };
        loop.on_line = on_line;
        loop.on_event = [&](link::Event e) {
            events.push_back(e);
            return e == stop_on ? link::Next::Stop : link::Next::Continue;
        };
        EXPECT_TRUE(link::RunReadLoop(reader_, loop));
        return events;
    }

    PtyPair pty_;
    int handle_ = 0;
    link::LineReader reader_{link::LineReader::Backlog::Keep};
};

TEST_F(OverPty, LinesArriveInOrderThenTheLineGoesQuietThenThePortCloses) {
    pty_.write("$GPRMC,1*00\r\n$GPGGA,2*00\r\n");
    Seen seen;
    EXPECT_EQ(Run(Collect(seen), link::Event::Quiet), std::vector{link::Event::Quiet});
    EXPECT_EQ(seen.text, (std::vector<std::string>{"$GPRMC,1*00", "$GPGGA,2*00"}));

    link::ClosePort();
    EXPECT_EQ(Run(Collect(seen), link::Event::PortClosed), std::vector{link::Event::PortClosed});
}

speed_t SpeedOf(const std::string& path) {
    termios t{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::tcgetattr(fd, &t);
    ::close(fd);
    return ::cfgetospeed(&t);
}

// A flag left raised by an earlier exchange must neither pass for the new
// acknowledgement nor keep the intake from sending the second step.
TEST_F(OverPty, RateChangeStepsFollowTheReceiver) {
    using zorvik::nmea::with_checksum;
    using zorvik::test::feed;
    using zorvik::test::snapshot;
    const std::string ack = "$PKVX200,9,1*00";
    feed(ack);
    pty_.drain();
    ASSERT_TRUE(link::RateSwitched(snapshot()));

    EXPECT_NE(link::SendRateCommand(6), 0);
    EXPECT_FALSE(link::RateSwitched(snapshot()));
    feed(ack);
    EXPECT_TRUE(link::RateSwitched(snapshot()));
    const std::string sent = with_checksum("$PKVX09,2,6") + with_checksum("$PKVX09,,");
    EXPECT_EQ(zorvik::test::as_text(pty_.read_exact(sent.size())), sent);

    feed("$GPRMC,145243.000,A,3401.9764,N,11744.8274,W,0.00,119.27,030610,,,D*70");
    ASSERT_EQ(snapshot().parse_rmc_done, 1);
    link::LeaveOldRate();
    EXPECT_EQ(GetComPort_connected_Status(), 0);
    EXPECT_FALSE(link::RateSwitched(snapshot()));

    ASSERT_TRUE(link::OpenAtNewRate(pty_.slave_path(), "38400").ok());
    EXPECT_EQ(snapshot().parse_rmc_done, 0);
    EXPECT_EQ(SpeedOf(pty_.slave_path()), B38400);
}

}  // namespace
