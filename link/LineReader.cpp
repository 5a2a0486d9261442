#include "LineReader.h"

#include <chrono>
#include <thread>

#include "PortLink.h"
#include "ZorvikDll.h"

namespace zorvik::link {

namespace {

using Clock = std::chrono::steady_clock;

// A pass that neither reads nor blocks (port closed, paused, a read that
// failed at once) waits this long, so that an idle reader costs no CPU.
constexpr auto kIdleWait = std::chrono::milliseconds(15);
// A read that returns sooner than this did not wait for its time-out.
constexpr auto kImmediate = std::chrono::milliseconds(5);
// How long a reader steps aside for a waiting open or close.
constexpr auto kStepAside = std::chrono::milliseconds(1);

Next Notify(const ReadLoop& loop, Event event) {
    return loop.on_event ? loop.on_event(event) : Next::Continue;
}

}  // namespace

LineReader::LineReader(Backlog backlog) : backlog_(backlog) {
    raw_.reserve(LineAssembler::kCapacity);
}

int LineReader::ReadByte(serial::Handle h, std::uint8_t& out) {
    const int got = bytes_.read_byte(h, out);
    // The driver queue is looked at once per buffer refill rather than per
    // byte: a system call per byte would cost several per cent of a core.
    if (backlog_ == Backlog::Drop && bytes_.buffered() == 0 &&
        bytes_.waiting(h) > serial::kDriverQueueLimit)
        bytes_.purge(h, serial::kPurgeAll);
    return got;
}

Next LineReader::Feed(std::uint8_t byte, const LineSink& sink) {
    if (byte == '$') raw_.clear();
    const LineAssembler::Result result = line_.feed(byte);
    if (result == LineAssembler::Result::Overflow) {
        // An over-long line is dropped whole; the next '$' starts afresh.
        raw_.clear();
        return Next::Continue;
    }
    if (line_.started() || result == LineAssembler::Result::Line)
        raw_.push_back(static_cast<char>(byte));
    if (result != LineAssembler::Result::Line) return Next::Continue;

    const Next next = sink ? sink(Line{raw_, line_.line()}) : Next::Continue;
    line_.release_line();
    raw_.clear();
    return next;
}

void LineReader::Reset() {
    bytes_.reset();
    line_.reset();
    raw_.clear();
}

bool RunReadLoop(LineReader& reader, const ReadLoop& loop) {
    while (!loop.stop()) {
        if (ReadTurn::OpenOrCloseWaiting()) {
            std::this_thread::sleep_for(kStepAside);
            continue;
        }
        ReadTurn turn;
        if (GetComPort_connected_Status() != 1 || (loop.paused && loop.paused())) {
            turn.Release();
            // Bytes buffered from a handle that may be closed or in other use.
            reader.DropBufferedBytes();
            if (Notify(loop, Event::PortClosed) == Next::Stop) return true;
            std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        std::uint8_t byte = 0;
        const auto before = Clock::now();
        const int got = reader.ReadByte(loop.handle(), byte);
        turn.Release();
        if (got != 1) {
            if (Notify(loop, got == 0 ? Event::Quiet : Event::ReadFailed) == Next::Stop)
                return true;
            if (Clock::now() - before < kImmediate) std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        if (reader.Feed(byte, loop.on_line) == Next::Stop) return true;
    }
    return false;
}

}  // namespace zorvik::link
