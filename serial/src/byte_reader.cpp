// One-byte reads over the serial layer. A read() per byte costs several per
// cent of a core at 115200 baud, so one read_some call takes whatever is
// waiting into the buffer and the following calls hand it out a byte at a time.
#include "serial_port.h"

namespace zorvik::serial {

void ByteReader::bind(Handle h) {
    // Bytes buffered from an earlier port must never be handed out as if
    // they came from this one.
    if (h != bound_) {
        bound_ = h;
        reset();
    }
}

int ByteReader::read_byte(Handle h, std::uint8_t& out) {
    bind(h);
    if (pos_ < len_) {
        out = buf_[pos_++];
        return 1;
    }
    if (h == kInvalidHandle) return -1;
    const long got = read_some(h, buf_, sizeof buf_);
    if (got < 0) return -1;
    if (got == 0) return 0;
    len_ =
        static_cast<std::size_t>(got) <= sizeof buf_ ? static_cast<std::size_t>(got) : sizeof buf_;
    pos_ = 0;
    out = buf_[pos_++];
    return 1;
}

std::size_t ByteReader::waiting(Handle h) {
    bind(h);
    const std::size_t buffered = len_ - pos_;
    if (h == kInvalidHandle) return buffered;
    return buffered + queued_input(h);
}

void ByteReader::purge(Handle h, unsigned flags) {
    bind(h);
    // Only a receive purge discards what was already read; a transmit-only
    // purge leaves the received bytes to be handed out.
    if (flags & (kPurgeRxAbort | kPurgeRxClear)) reset();
    if (h != kInvalidHandle) serial::purge(h, flags);
}

}  // namespace zorvik::serial
