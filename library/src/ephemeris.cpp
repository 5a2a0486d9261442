// Ephemeris upload: broadcast (UpdateBE) and long-term (UpdateLTE) ephemeris
// files, checked against the current time and forwarded to the receiver as the
// VBI frames they hold, one frame per write, paced by fixed pauses; and the
// check of a file's layout along the same walk (CheckBE, CheckLTE).
//
// The receiver's input must already be switched to VBI; the library neither
// switches it there nor back.
#include "ephemeris.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "ZorvikDll.h"
#include "regular_file.h"
#include "serial_link.h"
#include "state_record.h"
#include "system_clock.h"
#include "vbi_frame.h"

namespace zorvik::ephemeris {
namespace {

// The first line feed is looked for among the first 18 bytes; without one the
// first line is taken as 18 bytes long.
constexpr std::size_t kFirstLineLimit = 18;
// Offset of the frame byte count in a long-term record header, and the header's
// length for counts of up to 999 (one more for larger counts).
constexpr std::size_t kCountOffset = 22;
constexpr std::size_t kShortHeader = 27;
constexpr std::size_t kLongHeader = 28;

std::size_t first_line_feed(std::span<const std::uint8_t> file) {
    const std::size_t n = std::min(file.size(), kFirstLineLimit);
    for (std::size_t i = 0; i < n; ++i) {
        if (file[i] == 0x0A) return i;
    }
    return kFirstLineLimit;
}

// True when the ten characters at pos are all decimal digits.
bool ten_digits_present(std::span<const std::uint8_t> file, std::size_t pos) {
    if (pos > file.size() || file.size() - pos < 10) return false;
    return std::all_of(file.begin() + static_cast<std::ptrdiff_t>(pos),
                       file.begin() + static_cast<std::ptrdiff_t>(pos + 10),
                       [](std::uint8_t c) { return c >= '0' && c <= '9'; });
}

// Ten characters read as a decimal number, weighted 10^9 down to 10^0, with
// 32-bit wrap-around; the characters are not checked. Bytes past the end count
// as NUL.
std::uint32_t ten_digits(std::span<const std::uint8_t> file, std::size_t pos) {
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 10; ++k) {
        const std::uint32_t c = pos + k < file.size() ? file[pos + k] : 0u;
        value = value * 10u + (c - static_cast<std::uint32_t>('0'));
    }
    return value;
}

bool is_blank(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct Decimal {
    std::int64_t value = 0;
    bool has_digits = false;
};

// A decimal number as the C library reads one: leading blanks, an optional sign,
// digits up to the first other character (0 when there are none). Never reads
// past the end of the file; the magnitude is held at 2^40 so that no arithmetic
// on it can overflow.
Decimal read_decimal(std::span<const std::uint8_t> file, std::size_t pos) {
    constexpr std::int64_t kCap = std::int64_t{1} << 40;
    while (pos < file.size() && is_blank(file[pos])) ++pos;
    bool negative = false;
    if (pos < file.size() && (file[pos] == '+' || file[pos] == '-')) {
        negative = file[pos] == '-';
        ++pos;
    }
    Decimal d;
    while (pos < file.size() && file[pos] >= '0' && file[pos] <= '9') {
        d.value = std::min(kCap, d.value * 10 + (file[pos] - '0'));
        d.has_digits = true;
        ++pos;
    }
    if (negative) d.value = -d.value;
    return d;
}

std::int64_t decimal_at(std::span<const std::uint8_t> file, std::size_t pos) {
    return read_decimal(file, pos).value;
}

// A record time as a 32-bit unsigned value (the number taken modulo 2^32).
std::uint32_t time_at(std::span<const std::uint8_t> file, std::size_t pos) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(decimal_at(file, pos)));
}

// T <= now <= T + 14,400, in 32-bit unsigned arithmetic.
bool expired(std::uint32_t now, std::uint32_t t) {
    return now > static_cast<std::uint32_t>(t + kValidSpan);
}
bool not_yet(std::uint32_t now, std::uint32_t t) {
    return now < t;
}

// Position of the first sync pair at or after `from`, or no value.
std::optional<std::size_t> find_sync(std::span<const std::uint8_t> file, std::size_t from) {
    for (std::size_t p = from; p + 1 < file.size(); ++p) {
        if (file[p] == vbi::kSync1 && file[p + 1] == vbi::kSync2) return p;
    }
    return std::nullopt;
}

enum class FrameWalk { Done, BadFrame, Stopped };

// Walks q from `start` while q + 4 < limit: a sync pair starts a frame, which is
// handed whole to on_frame (false from it stops the walk); any other byte is
// skipped. A frame that is too long or would run past `limit` ends the walk.
template <class OnFrame>
FrameWalk walk_frames(std::span<const std::uint8_t> file, std::size_t start, std::size_t limit,
                      OnFrame on_frame) {
    limit = std::min(limit, file.size());
    std::size_t q = start;
    while (q + 4 < limit) {
        if (file[q] != vbi::kSync1 || file[q + 1] != vbi::kSync2) {
            ++q;
            continue;
        }
        if (limit - q < vbi::kHeaderSize) return FrameWalk::BadFrame;
        const std::size_t length =
            vbi::kHeaderSize +
            (static_cast<std::size_t>(file[q + 4]) | (static_cast<std::size_t>(file[q + 5]) << 8));
        if (length > kMaxFrameSize || length > limit - q) return FrameWalk::BadFrame;
        if (!on_frame(file.subspan(q, length))) return FrameWalk::Stopped;
        q += length;
    }
    return FrameWalk::Done;
}

// Each frame written whole and followed by a pause. A bad frame is not sent and
// ends the walk with false; so does a failed write (after its pause). Frames
// already sent stay sent.
bool send_frames(std::span<const std::uint8_t> file, std::size_t start, std::size_t limit,
                 int pause_ms, const UploadIo& io) {
    const auto send = [&](std::span<const std::uint8_t> frame) {
        if (!io.write_frame(frame.data(), frame.size())) {
            io.pause(kWriteFailedPauseMs);
            return false;
        }
        io.pause(pause_ms);
        return true;
    };
    return walk_frames(file, start, limit, send) == FrameWalk::Done;
}

// The layout of the frames from the first sync pair at or after `from` up to
// `limit`: at least one frame, and each whole.
int check_frames(std::span<const std::uint8_t> file, std::size_t from, std::size_t limit) {
    const auto first = find_sync(file, from);
    if (!first) return ZORVIK_EPHEMERIS_NO_FRAME;
    std::size_t frames = 0;
    const auto count = [&frames](std::span<const std::uint8_t>) {
        ++frames;
        return true;
    };
    if (walk_frames(file, *first, limit, count) != FrameWalk::Done)
        return ZORVIK_EPHEMERIS_BAD_FRAME;
    return frames == 0 ? ZORVIK_EPHEMERIS_NO_FRAME : ZORVIK_EPHEMERIS_OK;
}

int check_size(std::size_t size, std::size_t min_size, std::size_t max_size) {
    if (size < min_size) return ZORVIK_EPHEMERIS_TOO_SMALL;
    if (size > max_size) return ZORVIK_EPHEMERIS_TOO_LARGE;
    return ZORVIK_EPHEMERIS_OK;
}

std::uint64_t record_header_length(std::int64_t count) {
    return count > 999 ? kLongHeader : kShortHeader;
}

// The computer's UTC clock, written into the clock fields and converted.
std::optional<std::uint32_t> computer_clock_time() {
    const UtcTime utc = system_utc_now();
    {
        std::lock_guard lock(state_mutex());
        ClockFields& c = clock_fields();
        c.year = utc.year;
        c.month = utc.month;
        c.day = utc.day;
        c.hour = utc.hour;
        c.minute = utc.minute;
        c.second = utc.second;
    }
    const std::uint32_t t = time_and_date_to_seconds();
    if (t == 0) return std::nullopt;
    return static_cast<std::uint32_t>(t + kFileTimeOffset);
}

// The receiver's time from its last RMC sentence; the computer's clock when the
// receiver's year is below 2008 (no RMC yet, or a receiver without a date).
// The year is looked at before the result: before any RMC the conversion of
// the empty texts gives 0, and the computer's clock must be taken then too.
std::optional<CurrentTime> receiver_or_computer_time() {
    const std::uint32_t t = GetGPSTime();
    int year = 0;
    {
        std::lock_guard lock(state_mutex());
        year = clock_fields().year;
    }
    if (year < 2008) {
        const auto computer = computer_clock_time();
        if (!computer) return std::nullopt;
        return CurrentTime{*computer, true};
    }
    if (t == 0) return std::nullopt;
    return CurrentTime{static_cast<std::uint32_t>(t + kFileTimeOffset), false};
}

// Whether a broadcast file's time admits it now: ZORVIK_EPHEMERIS_OK,
// _EXPIRED or _NOT_YET.
int broadcast_time_fault(std::span<const std::uint8_t> file, std::uint32_t now) {
    const std::uint32_t t = ten_digits(file, first_line_feed(file) + 1);
    if (expired(now, t)) return ZORVIK_EPHEMERIS_EXPIRED;
    if (not_yet(now, t)) return ZORVIK_EPHEMERIS_NOT_YET;
    return ZORVIK_EPHEMERIS_OK;
}

// The long-term record the upload sends now, or why there is none.
struct RecordChoice {
    int fault = ZORVIK_EPHEMERIS_NO_TIME;  // ZORVIK_EPHEMERIS_OK when found
    std::uint64_t start = 0;
    std::int64_t count = 0;
};

// The first record valid by the current time; when none is, once more by the
// computer's clock, if it was not used yet.
RecordChoice choose_long_term_record(std::span<const std::uint8_t> file, const UploadIo& io) {
    RecordChoice choice;
    auto current = io.current_time();
    if (!current) return choice;
    std::uint32_t now = current->now;
    bool computer_used = current->from_computer;

    // Record positions are 64-bit: a byte count may point far beyond the file.
    const std::uint64_t first_record = first_line_feed(file) + 1;
    for (;;) {
        choice.fault = ZORVIK_EPHEMERIS_EXPIRED;
        for (std::uint64_t r = first_record; r <= file.size();) {
            const std::int64_t count = decimal_at(file, static_cast<std::size_t>(r) + kCountOffset);
            const std::uint32_t t = time_at(file, static_cast<std::size_t>(r));
            // A negative byte count would move the walk backwards: the records
            // end there.
            if (count < 0) break;
            if (not_yet(now, t)) {
                choice.fault = ZORVIK_EPHEMERIS_NOT_YET;
                break;
            }
            if (!expired(now, t)) return {ZORVIK_EPHEMERIS_OK, r, count};
            r += static_cast<std::uint64_t>(count) + record_header_length(count);
        }
        if (computer_used) return choice;
        const auto computer = io.computer_time();
        if (!computer) return {ZORVIK_EPHEMERIS_NO_TIME, 0, 0};
        now = *computer;
        computer_used = true;
    }
}

}  // namespace

UploadIo library_io() {
    UploadIo io;
    io.current_time = receiver_or_computer_time;
    io.computer_time = computer_clock_time;
    io.write_frame = [](const std::uint8_t* data, std::size_t n) {
        return port_write(data, n) != 0;
    };
    io.pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    return io;
}

int upload_broadcast(std::span<const std::uint8_t> file, const UploadIo& io) {
    if (check_size(file.size(), kBroadcastMinSize, kBroadcastMaxSize) != ZORVIK_EPHEMERIS_OK)
        return 0;
    const auto current = io.current_time();
    if (!current) return 0;
    io.pause(kBroadcastFirstPauseMs);
    if (broadcast_time_fault(file, current->now) != ZORVIK_EPHEMERIS_OK) return 0;

    const auto first = find_sync(file, first_line_feed(file));
    if (!first) return 0;
    return send_frames(file, *first, file.size(), kBroadcastFramePauseMs, io) ? 1 : 0;
}

int upload_long_term(std::span<const std::uint8_t> file, const UploadIo& io) {
    if (check_size(file.size(), kLongTermMinSize, kLongTermMaxSize) != ZORVIK_EPHEMERIS_OK)
        return 0;
    const RecordChoice record = choose_long_term_record(file, io);
    if (record.fault != ZORVIK_EPHEMERIS_OK) return 0;

    const auto first = find_sync(file, static_cast<std::size_t>(record.start));
    if (!first) return 0;
    const std::uint64_t record_end = record.start + record_header_length(record.count) +
                                     static_cast<std::uint64_t>(record.count);
    const auto limit = static_cast<std::size_t>(std::min<std::uint64_t>(record_end, file.size()));
    return send_frames(file, *first, limit, kLongTermFramePauseMs, io) ? 1 : 0;
}

int check_broadcast(std::span<const std::uint8_t> file) {
    if (const int size = check_size(file.size(), kBroadcastMinSize, kBroadcastMaxSize);
        size != ZORVIK_EPHEMERIS_OK)
        return size;
    const std::size_t i = first_line_feed(file);
    if (!ten_digits_present(file, i + 1)) return ZORVIK_EPHEMERIS_BAD_HEADER;
    return check_frames(file, i, file.size());
}

int check_long_term(std::span<const std::uint8_t> file) {
    if (const int size = check_size(file.size(), kLongTermMinSize, kLongTermMaxSize);
        size != ZORVIK_EPHEMERIS_OK)
        return size;
    // Every record, not only the one valid now: the file is kept for days.
    std::uint64_t r = first_line_feed(file) + 1;
    while (r < file.size()) {
        const auto at = static_cast<std::size_t>(r);
        const Decimal count = read_decimal(file, at + kCountOffset);
        if (!read_decimal(file, at).has_digits || !count.has_digits || count.value < 0)
            return ZORVIK_EPHEMERIS_BAD_HEADER;
        const std::uint64_t end =
            r + record_header_length(count.value) + static_cast<std::uint64_t>(count.value);
        if (end > file.size()) return ZORVIK_EPHEMERIS_RECORD_CUT;
        if (const int frames = check_frames(file, at, static_cast<std::size_t>(end));
            frames != ZORVIK_EPHEMERIS_OK)
            return frames;
        r = end;
    }
    return ZORVIK_EPHEMERIS_OK;
}

int check_broadcast_now(std::span<const std::uint8_t> file, const UploadIo& io) {
    if (const int layout = check_broadcast(file); layout != ZORVIK_EPHEMERIS_OK) return layout;
    const auto current = io.current_time();
    if (!current) return ZORVIK_EPHEMERIS_NO_TIME;
    return broadcast_time_fault(file, current->now);
}

int check_long_term_now(std::span<const std::uint8_t> file, const UploadIo& io) {
    if (const int layout = check_long_term(file); layout != ZORVIK_EPHEMERIS_OK) return layout;
    return choose_long_term_record(file, io).fault;
}

}  // namespace zorvik::ephemeris

namespace {

using namespace zorvik::ephemeris;

// Reads a whole regular file of min_size to max_size bytes: ZORVIK_EPHEMERIS_OK,
// or why not (it cannot be opened or read, or its size is out of bounds).
int read_file(const char* file_name, std::size_t min_size, std::size_t max_size,
              std::vector<std::uint8_t>& out) {
    const zorvik::platform::File file = zorvik::platform::open_regular_file(file_name);
    if (!file) return ZORVIK_EPHEMERIS_CANNOT_OPEN;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return ZORVIK_EPHEMERIS_CANNOT_OPEN;
    const long end = std::ftell(file.get());
    if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return ZORVIK_EPHEMERIS_CANNOT_OPEN;
    const auto size = static_cast<std::size_t>(end);
    if (const int fault = check_size(size, min_size, max_size); fault != ZORVIK_EPHEMERIS_OK)
        return fault;
    try {
        out.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return ZORVIK_EPHEMERIS_CANNOT_OPEN;
    }
    return std::fread(out.data(), 1, size, file.get()) == size ? ZORVIK_EPHEMERIS_OK
                                                               : ZORVIK_EPHEMERIS_CANNOT_OPEN;
}

}  // namespace

extern "C" {

ZORVIK_API int UpdateBE(const char* file_name) {
    std::vector<std::uint8_t> file;
    if (read_file(file_name, kBroadcastMinSize, kBroadcastMaxSize, file) != ZORVIK_EPHEMERIS_OK)
        return 0;
    return upload_broadcast(file, library_io());
}

ZORVIK_API int UpdateLTE(const char* file_name) {
    std::vector<std::uint8_t> file;
    if (read_file(file_name, kLongTermMinSize, kLongTermMaxSize, file) != ZORVIK_EPHEMERIS_OK)
        return 0;
    return upload_long_term(file, library_io());
}

ZORVIK_API int CheckBE(const char* file_name) {
    std::vector<std::uint8_t> file;
    const int read = read_file(file_name, kBroadcastMinSize, kBroadcastMaxSize, file);
    return read == ZORVIK_EPHEMERIS_OK ? check_broadcast(file) : read;
}

ZORVIK_API int CheckLTE(const char* file_name) {
    std::vector<std::uint8_t> file;
    const int read = read_file(file_name, kLongTermMinSize, kLongTermMaxSize, file);
    return read == ZORVIK_EPHEMERIS_OK ? check_long_term(file) : read;
}

ZORVIK_API int CheckBENow(const char* file_name) {
    std::vector<std::uint8_t> file;
    const int read = read_file(file_name, kBroadcastMinSize, kBroadcastMaxSize, file);
    return read == ZORVIK_EPHEMERIS_OK ? check_broadcast_now(file, library_io()) : read;
}

ZORVIK_API int CheckLTENow(const char* file_name) {
    std::vector<std::uint8_t> file;
    const int read = read_file(file_name, kLongTermMinSize, kLongTermMaxSize, file);
    return read == ZORVIK_EPHEMERIS_OK ? check_long_term_now(file, library_io()) : read;
}

}  // extern "C"
