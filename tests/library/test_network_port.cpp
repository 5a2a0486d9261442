// Ports on a serial device server: the telnet layer against hand-made
// streams, the port names, and COM_Open through a loopback server of the
// test's own that speaks the COM-port option and echoes what it receives.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "ZorvikDll.h"
#include "network_port.h"
#include "open_failure.h"
#include "serial_port.h"
#include "telnet.h"

namespace {

namespace telnet = zorvik::serial::telnet;
using telnet::Bytes;
using zorvik::serial::NetworkKind;
constexpr std::uint8_t I = telnet::kIac;

bool Contains(const Bytes& stream, const Bytes& part) {
    return std::search(stream.begin(), stream.end(), part.begin(), part.end()) != stream.end();
}

TEST(Telnet, DecoderSplitsTheStreamWhereverTheNetworkCutsIt) {
    struct Case {
        const char* what;
        Bytes stream;
        Bytes data;
        std::size_t commands;
        std::vector<Bytes> subnegotiations;  // option byte first
    };
    const Case cases[] = {
        {"plain data", {'$', 'G', 0x81}, {'$', 'G', 0x81}, 0, {}},
        {"a doubled IAC is one 0xFF", {0x81, I, I, 0x10}, {0x81, I, 0x10}, 0, {}},
        {"an option command is no data", {'a', I, telnet::kDo, 44, 'b'}, {'a', 'b'}, 1, {}},
        {"a command without option is skipped", {'a', I, 241, 'b'}, {'a', 'b'}, 0, {}},
        {"a baud answer with a doubled IAC inside",
         {I, telnet::kSb, 44, 101, 0, 0, I, I, 0, I, telnet::kSe, 'x'},
         {'x'},
         0,
         {{44, 101, 0, 0, I, 0}}},
        {"a subnegotiation broken off by a command",
         {I, telnet::kSb, 44, 101, I, telnet::kDo, 'y'},
         {'y'},
         0,
         {}},
    };
    for (const Case& c : cases) {
        for (std::size_t cut = 0; cut <= c.stream.size(); ++cut) {
            SCOPED_TRACE(std::string(c.what) + ", cut at " + std::to_string(cut));
            telnet::Decoder decoder;
            telnet::Decoded out;
            decoder.feed(c.stream.data(), cut, out);
            decoder.feed(c.stream.data() + cut, c.stream.size() - cut, out);
            EXPECT_EQ(out.data, c.data);
            EXPECT_EQ(out.commands.size(), c.commands);
            ASSERT_EQ(out.subnegotiations.size(), c.subnegotiations.size());
            for (std::size_t i = 0; i < c.subnegotiations.size(); ++i) {
                Bytes got{out.subnegotiations[i].option};
                got.insert(got.end(), out.subnegotiations[i].payload.begin(),
                           out.subnegotiations[i].payload.end());
                EXPECT_EQ(got, c.subnegotiations[i]);
            }
        }
    }
}

TEST(Telnet, AnOverlongSubnegotiationIsDroppedAndTheStreamGoesOn) {
    Bytes stream{I, telnet::kSb, 44, 101};
    stream.insert(stream.end(), 1000, 7);
    stream.insert(stream.end(), {I, telnet::kSe, 'z'});
    telnet::Decoder decoder;
    telnet::Decoded out;
    decoder.feed(stream.data(), stream.size(), out);
    EXPECT_TRUE(out.subnegotiations.empty());
    EXPECT_EQ(out.data, Bytes{'z'});
}

TEST(Telnet, EscapingRoundTripsEveryByte) {
    Bytes all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
    Bytes escaped;
    telnet::append_escaped(escaped, all.data(), all.size());
    EXPECT_EQ(escaped.size(), all.size() + 1);
    telnet::Decoder decoder;
    telnet::Decoded out;
    decoder.feed(escaped.data(), escaped.size(), out);
    EXPECT_EQ(out.data, all);
    // A command's value is escaped too: 0xFF in a rate.
    EXPECT_EQ(telnet::com_port_command(telnet::ComCommand::SetBaudRate,
                                       telnet::baud_rate_value(0x0001C2FF)),
              (Bytes{I, telnet::kSb, 44, 1, 0, 1, 0xC2, I, I, I, telnet::kSe}));
    EXPECT_EQ(telnet::baud_rate_of({0, 1, 0xC2, 0}), 115200u);
    EXPECT_FALSE(telnet::baud_rate_of({0, 1, 0xC2}));
}

TEST(Telnet, NegotiatorAnswersOnlyWhatChangesAnOption) {
    struct Case {
        const char* what;
        std::uint8_t verb;
        std::uint8_t option;
        Bytes answer;
    };
    // In order, on one negotiator that has sent its opening.
    const Case cases[] = {
        {"the agreed COM-port option needs no answer", telnet::kDo, 44, {}},
        {"binary as offered", telnet::kWill, 0, {}},
        {"echo is refused", telnet::kWill, 1, {I, telnet::kDont, 1}},
        {"an unknown option is refused", telnet::kDo, 24, {I, telnet::kWont, 24}},
        {"the server stops binary", telnet::kWont, 0, {I, telnet::kDont, 0}},
        {"a repeated stop is not answered", telnet::kWont, 0, {}},
        {"the server offers binary again", telnet::kWill, 0, {I, telnet::kDo, 0}},
        {"the server refuses our SGA", telnet::kDont, 3, {I, telnet::kWont, 3}},
        {"and asks for it again", telnet::kDo, 3, {I, telnet::kWill, 3}},
    };
    telnet::Negotiator n;
    const Bytes opening = n.opening();
    EXPECT_TRUE(Contains(opening, {I, telnet::kWill, 44}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(n.answer({c.verb, c.option}), c.answer);
    }
    EXPECT_TRUE(n.com_port_agreed());
    EXPECT_FALSE(n.com_port_refused());
}

TEST(NetworkPort, Names) {
    struct Case {
        const char* name;
        bool valid;
        NetworkKind kind;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:2217", true, NetworkKind::ComPortControl, "127.0.0.1", 2217},
        {"TCP://bench-7.lab:4001", true, NetworkKind::Raw, "bench-7.lab", 4001},
        {"rfc2217://[::1]:65535", true, NetworkKind::ComPortControl, "::1", 65535},
        {"rfc2217://::1:2217", false, {}, "", 0},
        {"rfc2217://host", false, {}, "", 0},
        {"rfc2217://host:0", false, {}, "", 0},
        {"tcp://host:65536", false, {}, "", 0},
        {"tcp://:4001", false, {}, "", 0},
        {"tcp://host:40x1", false, {}, "", 0},
        {"tcp://ho st:4001", false, {}, "", 0},
        {"tcp://host/x:4001", false, {}, "", 0},
        {"COM1", false, {}, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto a = zorvik::serial::parse_network_address(c.name);
        ASSERT_EQ(a.has_value(), c.valid);
        if (!a) continue;
        EXPECT_EQ(a->kind, c.kind);
        EXPECT_EQ(a->host, c.host);
        EXPECT_EQ(a->port, c.port);
    }
    EXPECT_TRUE(zorvik::serial::is_network_port_name("rfc2217://host"));
    EXPECT_FALSE(zorvik::serial::rate_follows("tcp://h:1"));
    EXPECT_TRUE(zorvik::serial::rate_follows("rfc2217://h:1"));
    EXPECT_TRUE(zorvik::serial::rate_follows("/dev/ttyUSB0"));
}

// A COM-port server on a loopback port: agrees to the option, answers every
// command with its own value, echoes data, keeps what came on the wire.
class EchoServer {
  public:
    EchoServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~EchoServer() {
        Drop();
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
    // Ends the connection as a server that goes away does.
    void Drop() {
        const int c = connection_.exchange(-1);
        if (c >= 0) ::shutdown(c, SHUT_RDWR);
    }
    Bytes Wire() {
        std::lock_guard lock(m_);
        return wire_;
    }

  private:
    void Serve() {
        const int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        connection_.store(c);
        const Bytes agree{I, telnet::kDo, 44};
        ::send(c, agree.data(), agree.size(), MSG_NOSIGNAL);
        telnet::Decoder decoder;
        std::uint8_t buf[4096];
        ssize_t got;
        while ((got = ::recv(c, buf, sizeof buf, 0)) > 0) {
            {
                std::lock_guard lock(m_);
                wire_.insert(wire_.end(), buf, buf + got);
            }
            telnet::Decoded d;
            decoder.feed(buf, static_cast<std::size_t>(got), d);
            Bytes out;
            telnet::append_escaped(out, d.data.data(), d.data.size());
            for (const auto& sub : d.subnegotiations) {
                if (sub.payload.empty()) continue;
                Bytes value(sub.payload.begin() + 1, sub.payload.end());
                const Bytes answer = telnet::com_port_command(
                    static_cast<telnet::ComCommand>(sub.payload[0] + telnet::kServerOffset), value);
                out.insert(out.end(), answer.begin(), answer.end());
            }
            ::send(c, out.data(), out.size(), MSG_NOSIGNAL);
        }
        ::close(c);
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> connection_{-1};
    std::mutex m_;
    Bytes wire_;
    std::thread thread_;
};

// Reads through the handle as the program's reader does, until n bytes or a
// quiet second.
Bytes ReadHandle(int handle, std::size_t n) {
    Bytes got;
    int quiet = 0;
    while (got.size() < n && quiet < 10) {
        std::uint8_t buf[512];
        const ssize_t r = ::read(handle, buf, sizeof buf);
        if (r <= 0) {
            ++quiet;
            continue;
        }
        quiet = 0;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

TEST(NetworkPort, HandleCarriesEveryByteAndTheRateReachesTheServer) {
    EchoServer server;
    const int handle = COM_Open(server.Url().c_str(), "115200");
    ASSERT_NE(handle, 0) << COM_LastOpenError();
    EXPECT_EQ(GetComPort_connected_Status(), 1);
    // Nothing has come yet: a read returns empty after its time-out, not never.
    std::uint8_t byte;
    EXPECT_EQ(::read(handle, &byte, 1), 0);

    Bytes all;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
    ASSERT_EQ(::write(handle, all.data(), all.size()), static_cast<ssize_t>(all.size()));
    EXPECT_EQ(ReadHandle(handle, all.size()), all);

    const Bytes wire = server.Wire();
    EXPECT_TRUE(Contains(wire, telnet::com_port_command(telnet::ComCommand::SetBaudRate,
                                                        telnet::baud_rate_value(115200))));
    EXPECT_TRUE(Contains(wire, {0xFE, I, I, 0x00}));  // 0xFF doubled on the wire

    // The server goes away: the port closes as a pulled receiver's does.
    server.Drop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (GetComPort_connected_Status() == 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(GetComPort_connected_Status(), 0);
    COM_Close();
}

// A device server may reset its device's line the moment the connection ends,
// so a close lets what was written last have its time on the line first:
// 96 bytes at 9600 bps take 100 ms.
TEST(NetworkPort, CloseWaitsForTheLastBytesTimeOnTheLine) {
    EchoServer server;
    const int handle = COM_Open(server.Url().c_str(), "9600");
    ASSERT_NE(handle, 0) << COM_LastOpenError();
    const Bytes sentence(96, 'x');
    const auto written = std::chrono::steady_clock::now();
    ASSERT_EQ(::write(handle, sentence.data(), sentence.size()),
              static_cast<ssize_t>(sentence.size()));
    COM_Close();
    EXPECT_GE(std::chrono::steady_clock::now() - written, std::chrono::milliseconds(100));
    EXPECT_TRUE(Contains(server.Wire(), sentence));
}

// The serial layer's calls on a network port's handle, as the library and
// the program's reader make them: each reaches the program's end of the port,
// at the rate the server was asked for, until the connection ends.
TEST(NetworkPort, SerialCallsOnTheHandleFollowTheRateAndTheConnection) {
    namespace serial = zorvik::serial;
    EchoServer server;
    serial::OpenFailure failure{};
    serial::Port port = serial::open_exclusive(server.Url(), failure);
    ASSERT_EQ(failure, serial::OpenFailure::None);
    const serial::Handle h = port.handle;

    // A write of 960 bytes takes a second at 9600 bps, a twelfth at 115200.
    const struct {
        const char* mode;
        long at_least_ms;
        long at_most_ms;
    } rates[] = {{"9600,N,8,1", 1900, 2100}, {"115200,N,8,1", 1000, 1200}};
    for (const auto& r : rates) {
        SCOPED_TRACE(r.mode);
        ASSERT_EQ(serial::configure(h, r.mode), serial::OpenFailure::None);
        EXPECT_GE(serial::write_bound_ms(h, 960), r.at_least_ms);
        EXPECT_LE(serial::write_bound_ms(h, 960), r.at_most_ms);
    }

    const Bytes sent{'$', 'G', 'P', 0xFF, 0x00, '\r', '\n'};
    ASSERT_TRUE(serial::write_all(port.writer, sent.data(), sent.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (serial::queued_input(h) < sent.size() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(serial::queued_input(h), sent.size());
    Bytes echoed(sent.size());
    EXPECT_EQ(serial::read_some(h, echoed.data(), echoed.size()), static_cast<long>(sent.size()));
    EXPECT_EQ(echoed, sent);
    EXPECT_FALSE(serial::device_gone(h));

    server.Drop();
    const auto gone_by = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!serial::device_gone(h) && std::chrono::steady_clock::now() < gone_by)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(serial::device_gone(h));
    std::uint8_t byte = 0;
    EXPECT_EQ(serial::read_some(h, &byte, 1), -1);
    serial::release_device(port);
    EXPECT_EQ(port.writer, serial::kInvalidHandle);
    EXPECT_FALSE(serial::write_all(port.writer, sent.data(), sent.size()));
    serial::close_port(port);
}

}  // namespace
