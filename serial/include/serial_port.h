// The serial-port layer: one small interface, one backend per platform
// (linux/ over termios, win32/ over the Win32 communications API), chosen by
// CMake, and the network backend (network/, see network_port.h), chosen by
// the port name.
// The library and the program's reader thread both read the port through it,
// so the two share one handle.
//
// A port on a serial device server (rfc2217://HOST:PORT, tcp://HOST:PORT)
// keeps the handle contract of a local port: read_some waits at most 100 ms
// and returns only the receiver's bytes, -1 once the connection is lost;
// write_all is bounded as on a local port, reckoned from the rate last set.
// A relay thread per port moves the bytes between the program's end and the
// connection, doing the telnet work (IAC doubling both ways, option answers,
// the server's COM-port answers); configure, purge and close_port reach the
// server through it. The program's end: on POSIX the far end of a
// pseudo-terminal, raw with VMIN 0 / VTIME 1, its writer a second,
// non-blocking open of it, hung up when the connection ends. On Win32 a pair
// of pipes: the handle is the read end of the relay's deliveries, read only
// for what waits in it, and broken when the connection ends; the writer
// feeds the relay. The calls below choose the network variant by the handle
// (the writer for write_all). The program and the library hold separate
// copies of this layer, so the calls the program makes on the handle
// (read_some, queued_input, purge of the input, device_gone) know such a
// handle by the handle alone. Details in network_port.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvik::serial {

// A file descriptor on POSIX, a HANDLE value on Win32.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// PurgeComm flags, the same bits on every platform.
enum PurgeFlags : unsigned {
    kPurgeTxAbort = 0x01,
    kPurgeRxAbort = 0x02,
    kPurgeTxClear = 0x04,
    kPurgeRxClear = 0x08,
    kPurgeAll = 0x0F,
    kPurgeInput = kPurgeRxAbort | kPurgeRxClear,
};

// The port's read time-out settings as found at open (VMIN and VTIME on POSIX,
// the COMMTIMEOUTS on Win32), put back by close. The line rate and format are
// not part of it: output written just before a close must keep its rate.
struct SavedSettings {
    std::vector<unsigned char> bytes;
};

// Device path for a port name: "COMn", a bare name, or a path used as it is.
std::string device_path(const std::string& port_name);

// An open port. `handle` reads (COM_Open hands it out): a read waits up to
// the read time-out. `writer` is what writes go through, bounded: on POSIX a
// second, non-blocking open of the same device, because O_NONBLOCK belongs to
// the open file and would make every read on `handle` return at once; on
// Win32 the same handle, whose write time-outs bound the writes.
struct Port {
    Handle handle = kInvalidHandle;
    Handle writer = kInvalidHandle;
};

// Opens the device read/write, exclusive, without becoming its controlling terminal.
// A failure leaves the system's reason in errno (GetLastError on Win32), and
// COM_Open adds no call after it, so that the program can tell the user why.
// A failed open gives a Port with both handles invalid.
Port open_exclusive(const std::string& port_name);
// Closes both handles.
void close_port(const Port& port);

// Bytes waiting in the driver's receive queue (ClearCommError's cbInQue).
std::size_t queued_input(Handle h);
// A receive queue longer than this holds stale data: the library's open and
// the program's reader discard it.
inline constexpr std::size_t kDriverQueueLimit = 1024;
void purge(Handle h, unsigned flags);

bool save_settings(Handle h, SavedSettings& out);
void restore_settings(Handle h, const SavedSettings& saved);

// The longest a write of n bytes may take at the port's current line rate:
// the time its bytes need (10 bits each) plus one second. A healthy line
// never reaches it; a peer that stops taking data does.
long write_bound_ms(Handle h, std::size_t n);

// Waits until the output written so far has left the port, at most
// write_bound_ms for what is queued.
void drain(Handle h);

// True when the device behind h has gone: unplugged, or the far end of a
// pseudo-terminal closed (a hang-up or an error condition on the handle).
bool device_gone(Handle h);

// Lets go of a gone device at once while port.handle stays a handle of ours
// (to a dead pipe on POSIX), so that a read racing on the old value fails and
// can never meet a file opened later; close_port frees it. The writer, used
// only under the caller's lock, is closed at once where it is a handle of
// its own.
void release_device(Port& port);

// The rate of a baud text such as "9600": decimal digits only, at most nine;
// nothing for any other text.
std::optional<unsigned long> parse_baud(const std::string& text);

// True when configure sets the line rate of baud_text on this platform: on
// POSIX a rate termios names (300 to 921600), on Win32 any positive rate (the
// driver's own limits show only when the port is set).
bool baud_rate_supported(const std::string& baud_text);

// configure (declared in open_failure.h, with its result) installs raw 8N1, no
// flow control, and a 100 ms read time-out (VMIN 0 / VTIME 1). mode is
// "<baud>,N,8,1"; a baud that baud_rate_supported refuses leaves the speed as it was.

// Reads up to n bytes; returns after at most 100 ms with what has arrived.
// Returns the count read, 0 on time-out, -1 on error.
long read_some(Handle h, void* buf, std::size_t n);

// Writes all n bytes through a port's writer in one call (WriteFile); true
// when all were handed to the port within write_bound_ms. A write that runs
// out of time discards what it left queued, so that a close after it need not
// wait for it. Only a writer bounds the time: on POSIX a blocking descriptor
// would wait for a stalled peer for good.
bool write_all(Handle writer, const void* data, std::size_t n);

// The machine's serial ports and the registered virtual ports, stable order,
// at most `limit` names. max_name_length is the size of the caller's name
// buffer including its NUL: a longer name is left out, never cut.
// POSIX order: registered virtual ports first, then the machine's devices
// under their kernel names (ttyS0, ttyUSB0), each group in natural order
// (COM2 before COM10).
std::vector<std::string> list_ports(std::size_t limit, std::size_t max_name_length);

// One-byte reads served from a small buffer that one system call fills with
// whatever is waiting; its waiting count includes the buffer; purge empties it.
class ByteReader {
  public:
    // 1 with a byte in out, 0 when nothing arrived within the read time-out, -1 on error.
    int read_byte(Handle h, std::uint8_t& out);
    std::size_t waiting(Handle h);
    // Bytes already read from the port and not yet handed out (no system call).
    std::size_t buffered() const { return len_ - pos_; }
    void purge(Handle h, unsigned flags);
    void reset() { pos_ = len_ = 0; }

  private:
    void bind(Handle h);
    Handle bound_ = kInvalidHandle;
    std::uint8_t buf_[256] = {};
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
};

}  // namespace zorvik::serial
