#include "LineReader.h"

#include <chrono>
#include <thread>
#include <type_traits>

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

// See the members: no destructor may run at exit.
static_assert(std::is_trivially_destructible_v<LineReader>);

LineReader::LineReader(Backlog backlog) : backlog_(backlog) {}

int LineReader::ReadByte(serial::Handle h, std::uint8_t& out) {
    const int got = bytes_.read_byte(h, out);
    // The driver queue is looked at once per buffer refill rather than per
    // byte: a system call per byte would cost several per cent of a core.
    if (backlog_ == Backlog::Drop && bytes_.buffered() == 0 &&
        bytes_.waiting(h) > serial::kDriverQueueLimit)
        bytes_.purge(h, serial::kPurgeInput);
    return got;
}

Next LineReader::Feed(std::uint8_t byte, const LineSink& sink) {
    if (byte == '$') raw_length_ = 0;
    const LineAssembler::Result result = line_.feed(byte);
    if (result == LineAssembler::Result::Overflow) {
        // An over-long line is dropped whole; the next '$' starts afresh.
        raw_length_ = 0;
        return Next::Continue;
    }
    // The assembler stores the same bytes, so the line fits here too.
    const bool stored = line_.started() || result == LineAssembler::Result::Line;
    if (stored && raw_length_ < sizeof raw_) raw_[raw_length_++] = static_cast<char>(byte);
    if (result != LineAssembler::Result::Line) return Next::Continue;

    const Next next = sink ? sink(Line{{raw_, raw_length_}, line_.line()}) : Next::Continue;
    line_.release_line();
    raw_length_ = 0;
    return next;
}

void LineReader::Reset() {
    bytes_.reset();
    line_.reset();
    raw_length_ = 0;
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
