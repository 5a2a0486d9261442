// Ports on a serial device server: the names, the relay thread between the
// program's end of the port and the TCP connection, and the COM-port
// commands whose answers the opening thread awaits (network_port.h).
#include "network_port.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "device_backend.h"
#include "network_backend.h"
#include "socket_io.h"
#include "telnet.h"

namespace zorvik::serial {

namespace {

using Clock = std::chrono::steady_clock;
using telnet::Bytes;
using telnet::ComCommand;

constexpr const char* kComPortScheme = "rfc2217://";
constexpr const char* kRawScheme = "tcp://";

// The server has this long to agree to the COM-port option, and again to
// answer the line settings.
constexpr auto kNegotiationBound = std::chrono::seconds(3);
constexpr auto kAnswerBound = std::chrono::seconds(2);
// What is still to go to the server when the port closes leaves within this.
constexpr auto kFlushBound = std::chrono::seconds(1);
// A server writes what it was sent to its device and may reset the device's
// line (its rate, its queues) as soon as the connection ends, as ser2net does.
// A close therefore waits until the last bytes have had their time on the line
// at the port's rate, and kDeviceSettle more for the device to take them. No
// more than kInFlightLimit bytes are reckoned to be still on their way: the
// program's protocols await an answer at least every XMODEM-1K block, and a
// server on a fast device (a pseudo-terminal) is far ahead of the rate.
constexpr auto kDeviceSettle = std::chrono::milliseconds(100);
constexpr std::size_t kInFlightLimit = 1024;
constexpr std::uint32_t kUnknownRate = 9600;
constexpr long long kBitsPerByte = 10;  // start, 8 data, stop
// A device server ends a new connection at once while its device is still
// held by the session before (one a reopen or an earlier run has just
// closed); such a connection is tried again within this.
constexpr auto kDeviceBusyBound = std::chrono::seconds(2);
constexpr int kEndedAtOnceMs = 300;
constexpr auto kBusyRetryPause = std::chrono::milliseconds(100);
constexpr int kRelayTickMs = 200;
constexpr std::size_t kChunk = 4096;
// Received bytes the program has not read yet, at most; beyond it they are
// lost as a driver's overrun loses them. And what may wait for the socket
// before the relay stops taking the program's writes (they then wait, bounded,
// in the pseudo-terminal).
constexpr std::size_t kReceiveBacklog = 64 * 1024;
constexpr std::size_t kSendBacklog = 16 * 1024;

bool starts_with_nocase(const std::string& text, const char* prefix) {
    const std::string p = prefix;
    if (text.size() < p.size()) return false;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != p[i]) return false;
    return true;
}

std::optional<std::uint16_t> port_number(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned long n = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (n == 0 || n > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(n);
}

bool valid_host(const std::string& host) {
    if (host.empty()) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '.' || c == '-' || c == ':' || c == '_' || c == '%';
    });
}

// The line settings a mode string "<baud>,<parity>,<data>,<stop>" asks for.
struct LineSettings {
    std::optional<std::uint32_t> baud;
    std::uint8_t data_size = 8;
    std::uint8_t parity = telnet::kParityNone;
    std::uint8_t stop_size = telnet::kStopOne;
};

LineSettings line_settings(const std::string& mode) {
    LineSettings s;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = mode.find(',', start);
        parts.push_back(mode.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (auto baud = parse_baud(parts[0]); baud && *baud > 0)
        s.baud = static_cast<std::uint32_t>(*baud);
    if (parts.size() > 1 && (parts[1] == "E" || parts[1] == "e")) s.parity = telnet::kParityEven;
    if (parts.size() > 1 && (parts[1] == "O" || parts[1] == "o")) s.parity = telnet::kParityOdd;
    if (parts.size() > 2 && parts[2].size() == 1 && parts[2][0] >= '5' && parts[2][0] <= '7')
        s.data_size = static_cast<std::uint8_t>(parts[2][0] - '0');
    if (parts.size() > 3 && parts[3] == "2") s.stop_size = telnet::kStopTwo;
    return s;
}

// One open network port. The relay thread owns the socket's reads and the
// telnet decoder; the rest is shared under m.
struct Session {
    NetworkKind kind = NetworkKind::Raw;
    net::Socket socket = net::kNoSocket;
    net::LocalEnd local;
    net::Wake wake;
    std::thread relay;

    std::mutex m;
    std::condition_variable changed;
    Bytes to_server;   // encoded, not yet sent
    Bytes to_program;  // received data the pseudo-terminal has not taken yet
    bool stopping = false;
    bool lost = false;
    bool com_port_agreed = false;
    bool com_port_refused = false;
    std::uint32_t line_rate = kUnknownRate;
    Clock::time_point line_done{};          // when what went to the server has left its device
    std::map<std::uint8_t, Bytes> answers;  // COM-port answers by command, since the last ask

    telnet::Decoder decoder;        // relay thread only
    telnet::Negotiator negotiator;  // relay thread only
};

std::mutex sessions_mutex;
std::map<Handle, std::shared_ptr<Session>> sessions;

std::map<Handle, std::shared_ptr<Session>> writers;  // the same sessions by writer

std::shared_ptr<Session> session_for(Handle h) {
    std::lock_guard lock(sessions_mutex);
    const auto it = sessions.find(h);
    return it == sessions.end() ? nullptr : it->second;
}

// sessions_mutex held. A released port's writer may be closed already, and
// its number may come back for another port's.
void forget_writer(const Session& s) {
    for (auto it = writers.begin(); it != writers.end(); ++it) {
        if (it->second.get() != &s) continue;
        writers.erase(it);
        return;
    }
}

std::shared_ptr<Session> session_for_writer(Handle writer) {
    std::lock_guard lock(sessions_mutex);
    const auto it = writers.find(writer);
    return it == writers.end() ? nullptr : it->second;
}

void append(Bytes& to, const Bytes& what) {
    to.insert(to.end(), what.begin(), what.end());
}

// m held.
void take_from_server(Session& s, const telnet::Decoded& d) {
    for (const telnet::OptionCommand& c : d.commands) append(s.to_server, s.negotiator.answer(c));
    s.com_port_agreed = s.negotiator.com_port_agreed();
    s.com_port_refused = s.negotiator.com_port_refused();
    for (const telnet::Subnegotiation& sub : d.subnegotiations) {
        if (sub.option != telnet::kOptionComPort || sub.payload.empty()) continue;
        const std::uint8_t code = sub.payload[0];
        if (code <= telnet::kServerOffset) continue;
        s.answers[static_cast<std::uint8_t>(code - telnet::kServerOffset)] =
            Bytes(sub.payload.begin() + 1, sub.payload.end());
    }
    const std::size_t room =
        kReceiveBacklog > s.to_program.size() ? kReceiveBacklog - s.to_program.size() : 0;
    s.to_program.insert(s.to_program.end(), d.data.begin(),
                        d.data.begin() + static_cast<long>(std::min(room, d.data.size())));
}

// Relay thread. False once the connection has ended.
bool relay_from_server(Session& s) {
    std::uint8_t chunk[kChunk];
    const long got = net::receive_some(s.socket, chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    telnet::Decoded decoded;
    if (s.kind == NetworkKind::Raw)
        decoded.data.assign(chunk, chunk + got);
    else
        s.decoder.feed(chunk, static_cast<std::size_t>(got), decoded);
    std::lock_guard lock(s.m);
    take_from_server(s, decoded);
    s.changed.notify_all();
    return true;
}

// Relay thread: what the program wrote, towards the server.
void relay_from_program(Session& s) {
    std::uint8_t chunk[kChunk];
    const long got = net::relay_read(s.local, chunk, sizeof chunk);
    if (got <= 0) return;
    std::lock_guard lock(s.m);
    if (s.kind == NetworkKind::Raw)
        s.to_server.insert(s.to_server.end(), chunk, chunk + got);
    else
        telnet::append_escaped(s.to_server, chunk, static_cast<std::size_t>(got));
}

std::chrono::microseconds line_time(std::size_t bytes, std::uint32_t rate) {
    return std::chrono::microseconds(static_cast<long long>(bytes) * kBitsPerByte * 1'000'000 /
                                     rate);
}

// Relay thread, m held. False once the connection is lost.
bool send_pending(Session& s) {
    if (s.to_server.empty()) return true;
    const long sent = net::send_some(s.socket, s.to_server.data(), s.to_server.size());
    if (sent < 0) return false;
    const auto now = Clock::now();
    s.line_done = std::min(
        std::max(s.line_done, now) + line_time(static_cast<std::size_t>(sent), s.line_rate),
        now + line_time(kInFlightLimit, s.line_rate));
    s.to_server.erase(s.to_server.begin(), s.to_server.begin() + sent);
    return true;
}

// Relay thread, m held.
void hand_to_program(Session& s) {
    if (s.to_program.empty() || s.local.relay_writer == kInvalidHandle) return;
    const long put = net::relay_write(s.local, s.to_program.data(), s.to_program.size());
    if (put > 0) s.to_program.erase(s.to_program.begin(), s.to_program.begin() + put);
}

// Relay thread: the port closes; what the program wrote last still goes out.
void flush_to_server(Session& s) {
    const auto deadline = Clock::now() + kFlushBound;
    while (Clock::now() < deadline) {
        relay_from_program(s);
        std::lock_guard lock(s.m);
        if (s.to_server.empty() || !send_pending(s)) return;
        if (!s.to_server.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void run_relay(Session& s) {
    while (true) {
        net::Wanted wanted;
        {
            std::lock_guard lock(s.m);
            if (s.stopping) break;
            wanted.socket_out = !s.to_server.empty();
            wanted.relay_in = s.to_server.size() < kSendBacklog;
            wanted.relay_out = !s.to_program.empty();
        }
        const net::Ready ready = net::wait_ready(s.socket, s.local, wanted, s.wake, kRelayTickMs);
        bool alive = !ready.socket_in || relay_from_server(s);
        if (ready.relay_in) relay_from_program(s);
        std::lock_guard lock(s.m);
        alive = alive && send_pending(s);
        hand_to_program(s);
        if (!alive) {
            // The program's end hangs up, as a pulled receiver's port does.
            s.lost = true;
            net::close_relay(s.local);
            s.changed.notify_all();
            return;
        }
    }
    flush_to_server(s);
}

void send_to_server(Session& s, const Bytes& bytes) {
    {
        std::lock_guard lock(s.m);
        append(s.to_server, bytes);
    }
    net::signal_wake(s.wake);
}

// The connection stays until what was sent last has reached the device.
void let_line_drain(Session& s) {
    if (!s.lost) std::this_thread::sleep_until(s.line_done + kDeviceSettle);
}

void tear_down(Session& s) {
    {
        std::lock_guard lock(s.m);
        s.stopping = true;
    }
    net::signal_wake(s.wake);
    if (s.relay.joinable()) s.relay.join();
    let_line_drain(s);
    net::close_socket(s.socket);
    net::close_relay(s.local);
    net::close_wake(s.wake);
    s.socket = net::kNoSocket;
}

// Waits for the server to agree to the COM-port option.
OpenFailure await_com_port(Session& s) {
    std::unique_lock lock(s.m);
    s.changed.wait_for(lock, kNegotiationBound,
                       [&] { return s.com_port_agreed || s.com_port_refused || s.lost; });
    if (s.com_port_agreed) return OpenFailure::None;
    return s.lost ? OpenFailure::ConnectionLost : OpenFailure::NoComPortOption;
}

struct Ask {
    ComCommand command;
    Bytes value;
    bool answer_required;  // a server may leave SET-CONTROL unanswered for a device without modem
                           // lines
};

bool answered(const Session& s, const std::vector<Ask>& asks) {
    return std::all_of(asks.begin(), asks.end(), [&](const Ask& a) {
        return !a.answer_required || s.answers.count(static_cast<std::uint8_t>(a.command)) != 0;
    });
}

OpenFailure judge_answers(const Session& s, const std::vector<Ask>& asks) {
    for (const Ask& a : asks) {
        const auto it = s.answers.find(static_cast<std::uint8_t>(a.command));
        if (it == s.answers.end()) {
            if (a.answer_required) return OpenFailure::NoComPortOption;
            continue;
        }
        if (it->second != a.value) return OpenFailure::SettingsRefused;
    }
    return OpenFailure::None;
}

OpenFailure set_line(Session& s, const LineSettings& line) {
    std::vector<Ask> asks;
    if (line.baud)
        asks.push_back({ComCommand::SetBaudRate, telnet::baud_rate_value(*line.baud), true});
    asks.push_back({ComCommand::SetDataSize, {line.data_size}, true});
    asks.push_back({ComCommand::SetParity, {line.parity}, true});
    asks.push_back({ComCommand::SetStopSize, {line.stop_size}, true});
    asks.push_back({ComCommand::SetControl, {telnet::kControlNoFlow}, false});
    Bytes out;
    for (const Ask& a : asks) append(out, telnet::com_port_command(a.command, a.value));
    {
        std::lock_guard lock(s.m);
        s.answers.clear();
    }
    send_to_server(s, out);
    std::unique_lock lock(s.m);
    s.changed.wait_for(lock, kAnswerBound, [&] { return s.lost || answered(s, asks); });
    if (s.lost) return OpenFailure::ConnectionLost;
    return judge_answers(s, asks);
}

}  // namespace

bool is_network_port_name(const std::string& port_name) {
    return starts_with_nocase(port_name, kComPortScheme) ||
           starts_with_nocase(port_name, kRawScheme);
}

std::optional<NetworkAddress> parse_network_address(const std::string& port_name) {
    NetworkAddress a{};
    std::string rest;
    if (starts_with_nocase(port_name, kComPortScheme)) {
        a.kind = NetworkKind::ComPortControl;
        rest = port_name.substr(std::string(kComPortScheme).size());
    } else if (starts_with_nocase(port_name, kRawScheme)) {
        a.kind = NetworkKind::Raw;
        rest = port_name.substr(std::string(kRawScheme).size());
    } else {
        return std::nullopt;
    }
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string host = rest.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return std::nullopt;  // an IPv6 literal needs its brackets
    const auto port = port_number(rest.substr(colon + 1));
    if (!port || !valid_host(host)) return std::nullopt;
    a.host = host;
    a.port = *port;
    return a;
}

bool rate_follows(const std::string& port_name) {
    const auto a = parse_network_address(port_name);
    return !a || a->kind != NetworkKind::Raw;
}

namespace {

net::Socket connect_when_free(const NetworkAddress& address, OpenFailure& failure) {
    const auto deadline = Clock::now() + kDeviceBusyBound;
    for (;;) {
        const net::Socket socket = net::connect_stream(address.host, address.port, failure);
        if (socket == net::kNoSocket || !net::ended_at_once(socket, kEndedAtOnceMs)) return socket;
        net::close_socket(socket);
        if (Clock::now() >= deadline) {
            failure = OpenFailure::ServerBusy;
            return net::kNoSocket;
        }
        std::this_thread::sleep_for(kBusyRetryPause);
    }
}

}  // namespace

Port open_network(const std::string& port_name, OpenFailure& failure) {
    const auto address = parse_network_address(port_name);
    if (!address) {
        failure = OpenFailure::BadAddress;
        return {};
    }
    auto s = std::make_shared<Session>();
    s->kind = address->kind;
    s->socket = connect_when_free(*address, failure);
    if (s->socket == net::kNoSocket) return {};
    if (!net::open_local_end(s->local) || !net::open_wake(s->wake)) {
        failure = OpenFailure::Other;
        tear_down(*s);
        net::close_local_end(s->local.port);
        return {};
    }
    if (s->kind == NetworkKind::ComPortControl) send_to_server(*s, s->negotiator.opening());
    s->relay = std::thread([session = s.get()] { run_relay(*session); });
    failure = s->kind == NetworkKind::ComPortControl ? await_com_port(*s) : OpenFailure::None;
    if (failure != OpenFailure::None) {
        tear_down(*s);
        net::close_local_end(s->local.port);
        return {};
    }
    std::lock_guard lock(sessions_mutex);
    sessions[s->local.port.handle] = s;
    writers[s->local.port.writer] = s;
    return s->local.port;
}

bool is_network_handle(Handle h) {
    return session_for(h) != nullptr;
}

OpenFailure configure_network(Handle h, const std::string& mode) {
    const auto s = session_for(h);
    if (!s) return OpenFailure::Other;
    net::local_configure(h, mode);
    const LineSettings line = line_settings(mode);
    if (line.baud) {
        std::lock_guard lock(s->m);
        s->line_rate = *line.baud;
    }
    if (s->kind == NetworkKind::Raw) return OpenFailure::None;
    return set_line(*s, line);
}

void purge_network(Handle h, unsigned flags) {
    const auto s = session_for(h);
    if (!s) return;
    const bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (rx) {
        std::lock_guard lock(s->m);
        s->to_program.clear();
    }
    net::local_purge(h, flags);
    if (s->kind == NetworkKind::Raw || !(rx || tx)) return;
    const std::uint8_t which = rx && tx ? telnet::kPurgeBoth
                               : rx     ? telnet::kPurgeReceive
                                        : telnet::kPurgeTransmit;
    send_to_server(*s, telnet::com_port_command(ComCommand::PurgeData, {which}));
}

void close_network(const Port& port) {
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(sessions_mutex);
        const auto it = sessions.find(port.handle);
        if (it == sessions.end()) return;
        s = it->second;
        sessions.erase(it);
        forget_writer(*s);
    }
    // The relay sends what the program wrote last before its end closes.
    tear_down(*s);
    net::close_local_end(port);
}

bool is_network_writer(Handle writer) {
    return session_for_writer(writer) != nullptr;
}

long read_network(Handle h, void* buf, std::size_t n) {
    return net::local_read(h, buf, n);
}

namespace {

std::uint32_t rate_of(Session& s) {
    std::lock_guard lock(s.m);
    return s.line_rate;
}

}  // namespace

bool write_network(Handle writer, const void* data, std::size_t n) {
    const auto s = session_for_writer(writer);
    if (!s) return false;
    const long bound = net::local_write_bound(s->local.port.handle, n, rate_of(*s));
    const bool written = net::local_write(writer, data, n, bound, s->wake);
    net::signal_wake(s->wake);
    return written;
}

std::size_t queued_input_network(Handle h) {
    return net::local_queued(h);
}

void drain_network(Handle h) {
    const auto s = session_for(h);
    if (!s) return;
    net::local_drain(h, net::local_write_bound(h, kSendBacklog, rate_of(*s)));
}

bool network_gone(Handle h) {
    return net::local_gone(h);
}

void release_network(Port& port) {
    if (const auto s = session_for(port.handle)) {
        std::lock_guard lock(sessions_mutex);
        forget_writer(*s);
    }
    net::local_release(port);
}

bool save_settings_network(Handle h, SavedSettings& out) {
    return net::local_save(h, out);
}

void restore_settings_network(Handle h, const SavedSettings& saved) {
    net::local_restore(h, saved);
}

long write_bound_network(Handle h, std::size_t n) {
    const auto s = session_for(h);
    return net::local_write_bound(h, n, s ? rate_of(*s) : kUnknownRate);
}

}  // namespace zorvik::serial
