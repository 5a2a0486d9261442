// The serial-port layer over the Win32 communications API: one synchronous
// (non-overlapped) handle per port, read time-outs by COMMTIMEOUTS, line
// settings by a mode string through BuildCommDCBA, and the port list from
// the registry's SERIALCOMM key.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "device_backend.h"
#include "serial_port.h"

namespace zorvik::serial {

static_assert(sizeof(Handle) == sizeof(HANDLE), "a Handle holds a HANDLE value");
static_assert(sizeof(DCB) == 28, "the DCB length written to DCBlength");

namespace {

// The device path prefix of the Win32 device namespace.
constexpr char kDevicePrefix[] = "\\\\.\\";

// The time-outs COM_Open installs: a read returns after at most 100 ms with
// what has arrived; a write fails once it has taken the time its bytes need
// (10 bits each, rounded up to whole milliseconds per byte) plus one second.
constexpr DWORD kReadTotalTimeoutMs = 100;
constexpr DWORD kWriteSlackMs = 1000;
constexpr DWORD kBitsPerByte = 10;
constexpr DWORD kSlowestBaud = 300;
constexpr DWORD kDrainPollMs = 5;
// How often a read on a network port's pipe looks for bytes when it cannot
// wait for its relay's delivery event (a pipe itself cannot be waited on).
constexpr DWORD kPipeReadPollMs = 5;

// Errors a port gives once its device has been removed.
bool is_gone_error(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_OPERATION_ABORTED:
        case ERROR_GEN_FAILURE:
            return true;
        default:
            return false;
    }
}

DWORD current_baud(HANDLE h) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb) || dcb.BaudRate == 0) return kSlowestBaud;
    return dcb.BaudRate;
}

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

HANDLE to_win(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}

bool is_invalid(Handle h) {
    return to_win(h) == INVALID_HANDLE_VALUE || h == 0;
}

bool starts_with(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The string data of one registry value, without the terminating NULs that
// REG_SZ data usually (but not always) carries. Empty when the value is not
// a string or cannot be read.
std::string read_string_value(HKEY key, const char* value_name, DWORD max_data_len) {
    std::string data(static_cast<std::size_t>(max_data_len) + 1, '\0');
    DWORD type = 0;
    DWORD size = max_data_len;
    LONG rc = RegQueryValueExA(key, value_name, nullptr, &type,
                               reinterpret_cast<BYTE*>(data.data()), &size);
    if (rc == ERROR_MORE_DATA) {
        // The value grew since RegQueryInfoKeyA; size now holds what it needs.
        data.assign(static_cast<std::size_t>(size) + 1, '\0');
        rc = RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                              &size);
    }
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    data.resize(std::min<std::size_t>(size, data.size()));
    const auto nul = data.find('\0');
    if (nul != std::string::npos) data.resize(nul);
    return data;
}

// A network port's handle is the read end of a pipe that its relay fills
// (socket_winsock.cpp), told from any other pipe by its size, so that a stale
// handle value that has come to name some other pipe is still not read. The
// program and the library each test the handle themselves: they hold
// separate copies of this layer.
bool is_network_end(HANDLE h) {
    if (GetFileType(h) != FILE_TYPE_PIPE) return false;
    DWORD flags = 0;
    DWORD out_size = 0;
    DWORD in_size = 0;
    if (!GetNamedPipeInfo(h, &flags, &out_size, &in_size, nullptr)) return false;
    return in_size == kNetworkPipeSize || out_size == kNetworkPipeSize;
}

// Bytes waiting in the pipe; nothing once the relay has closed its end and
// the pipe is empty (the connection is lost).
std::optional<DWORD> pipe_waiting(HANDLE h) {
    DWORD avail = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr)) return std::nullopt;
    return avail;
}

// The event the relay sets for each delivery into the pipe, found by name
// (each copy of this layer opens it itself); nothing when it is gone.
class DeliveryEvent {
  public:
    explicit DeliveryEvent(HANDLE pipe)
        : event_(OpenEventA(SYNCHRONIZE, FALSE,
                            network_delivery_event_name(reinterpret_cast<Handle>(pipe)).c_str())) {}
    ~DeliveryEvent() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    DeliveryEvent(const DeliveryEvent&) = delete;
    DeliveryEvent& operator=(const DeliveryEvent&) = delete;
    // Waits at most ms for the next delivery; polls without the event.
    void wait(DWORD ms) const {
        if (event_ == nullptr || WaitForSingleObject(event_, ms) == WAIT_FAILED)
            Sleep(std::min(ms, kPipeReadPollMs));
    }

  private:
    HANDLE event_;
};

// As a COM port's read: at most kReadTotalTimeoutMs, what has arrived, -1
// once the connection is lost. Only what waits is read, so it never blocks.
long read_pipe(HANDLE h, void* buf, std::size_t n) {
    const ULONGLONG deadline = GetTickCount64() + kReadTotalTimeoutMs;
    std::optional<DeliveryEvent> delivered;
    for (;;) {
        const auto avail = pipe_waiting(h);
        if (!avail) return -1;
        if (*avail > 0) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(*avail, n));
            DWORD got = 0;
            if (!ReadFile(h, buf, want, &got, nullptr)) return -1;
            return static_cast<long>(got);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return 0;
        if (!delivered) delivered.emplace(h);
        delivered->wait(static_cast<DWORD>(deadline - now));
    }
}

void discard_pipe_input(HANDLE h) {
    std::uint8_t discard[4096];
    for (auto avail = pipe_waiting(h); avail && *avail > 0; avail = pipe_waiting(h)) {
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(*avail, sizeof discard);
        if (!ReadFile(h, discard, want, &got, nullptr) || got == 0) return;
    }
}

}  // namespace

std::string network_delivery_event_name(Handle program_end) {
    char name[80];
    std::snprintf(name, sizeof name, "Local\\zorvik-net-delivery-%lu-%llx",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long long>(program_end));
    return name;
}

std::string device_path(const std::string& port_name) {
    // A name already in the device or the long-path namespace is used as it is.
    if (starts_with(port_name, "\\\\.\\") || starts_with(port_name, "\\\\?\\")) return port_name;
    return kDevicePrefix + port_name;
}

Port open_exclusive(const std::string& port_name) {
    if (port_name.empty()) return {};
    const std::string path = device_path(port_name);
    // No sharing: a port that another program holds cannot be opened, and
    // while we hold it no other program can open it.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return {};
    // One handle does both: its write time-outs bound the writes without
    // touching how it reads.
    return {reinterpret_cast<Handle>(h), reinterpret_cast<Handle>(h)};
}

void close_device(const Port& port) {
    const Handle h = port.handle;
    if (is_invalid(h)) return;
    // A reader thread may be waiting in a ReadFile on this handle, perhaps
    // under the time-outs just put back, which may have none. On a
    // synchronous handle neither PurgeComm nor CloseHandle ends that read, so
    // cancel it first: it returns at once with ERROR_OPERATION_ABORTED and
    // the reader finds the port closed.
    CancelIoEx(to_win(h), nullptr);
    CloseHandle(to_win(h));
}

std::size_t queued_input_device(Handle h) {
    if (is_invalid(h)) return 0;
    DWORD errors = 0;
    COMSTAT stat{};
    // A COM port's calls come first and unchanged; a pipe fails them.
    if (!ClearCommError(to_win(h), &errors, &stat))
        return is_network_end(to_win(h)) ? pipe_waiting(to_win(h)).value_or(0) : 0;
    return stat.cbInQue;
}

void purge_device(Handle h, unsigned flags) {
    if (is_invalid(h)) return;
    if (PurgeComm(to_win(h), flags & kPurgeAll) || !is_network_end(to_win(h))) return;
    // A network port's output is the relay's once written; its server purges it.
    if ((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0) discard_pipe_input(to_win(h));
}

bool save_settings_device(Handle h, SavedSettings& out) {
    COMMTIMEOUTS timeouts{};
    if (is_invalid(h) || !GetCommTimeouts(to_win(h), &timeouts)) {
        out.bytes.clear();
        return false;
    }
    out.bytes.resize(sizeof timeouts);
    std::memcpy(out.bytes.data(), &timeouts, sizeof timeouts);
    return true;
}

void restore_settings_device(Handle h, const SavedSettings& saved) {
    // Only what save_settings stored is put back; an empty or foreign record
    // (a failed save) leaves the port's time-outs alone.
    if (is_invalid(h) || saved.bytes.size() != sizeof(COMMTIMEOUTS)) return;
    COMMTIMEOUTS timeouts{};
    std::memcpy(&timeouts, saved.bytes.data(), sizeof timeouts);
    SetCommTimeouts(to_win(h), &timeouts);
}

bool baud_rate_supported(const std::string& baud_text) {
    // BuildCommDCBA takes any rate; whether the driver does shows only at SetCommState.
    const auto baud = parse_baud(baud_text);
    return baud && *baud > 0;
}

void configure_device(Handle h, const std::string& mode) {
    if (is_invalid(h)) return;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;

    DCB dcb{};
    dcb.DCBlength = 28;
    GetCommState(to_win(h), &dcb);
    // BuildCommDCBA works on a copy: a mode string it rejects (a malformed
    // baud) must leave every member as GetCommState read it, so that the
    // port keeps its previous speed rather than half a new setting.
    DCB built = dcb;
    if (BuildCommDCBA(mode.c_str(), &built)) dcb = built;
    dcb.DCBlength = 28;
    SetCommState(to_win(h), &dcb);

    const DWORD baud = current_baud(to_win(h));
    timeouts.WriteTotalTimeoutMultiplier = (kBitsPerByte * 1000 + baud - 1) / baud;
    timeouts.WriteTotalTimeoutConstant = kWriteSlackMs;
    SetCommTimeouts(to_win(h), &timeouts);
}

long write_bound_at_rate(unsigned long baud, std::size_t n) {
    if (baud == 0) baud = kSlowestBaud;
    const unsigned long long bytes = std::min<unsigned long long>(n, 1ULL << 32);
    const unsigned long long ms = bytes * kBitsPerByte * 1000 / baud;
    return static_cast<long>(std::min<unsigned long long>(ms, 3600ULL * 1000)) + kWriteSlackMs;
}

long write_bound_ms_device(Handle h, std::size_t n) {
    return write_bound_at_rate(is_invalid(h) ? kSlowestBaud : current_baud(to_win(h)), n);
}

void drain_device(Handle h) {
    if (is_invalid(h)) return;
    // FlushFileBuffers has no time limit; watch the output queue instead.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(to_win(h), &errors, &stat) || stat.cbOutQue == 0) return;
    const ULONGLONG deadline = GetTickCount64() + write_bound_ms_device(h, stat.cbOutQue);
    while (GetTickCount64() < deadline) {
        if (!ClearCommError(to_win(h), &errors, &stat) || stat.cbOutQue == 0) return;
        Sleep(kDrainPollMs);
    }
}

bool is_device_gone(Handle h) {
    if (is_invalid(h)) return false;
    DWORD errors = 0;
    COMSTAT stat{};
    if (ClearCommError(to_win(h), &errors, &stat)) return false;
    const DWORD error = GetLastError();
    if (is_network_end(to_win(h))) return !pipe_waiting(to_win(h));
    SetLastError(error);
    return is_gone_error(GetLastError());
}

void release_device_handles(Port& port) {
    // Handle values are reused too, so the handle (the writer too, which is
    // the same) stays open until close_port; the pending operations end now.
    if (!is_invalid(port.handle)) PurgeComm(to_win(port.handle), kPurgeAll);
}

// True when a ReadFile under these time-outs returns within a bounded time
// even if no byte arrives.
bool read_is_bounded(const COMMTIMEOUTS& t) {
    if (t.ReadTotalTimeoutConstant != 0 || t.ReadTotalTimeoutMultiplier != 0) return true;
    return t.ReadIntervalTimeout == MAXDWORD;  // returns at once with what is there
}

long read_some_device(Handle h, void* buf, std::size_t n) {
    if (is_invalid(h)) return -1;
    if (n == 0) return 0;
    // ClearCommError first, for three reasons:
    // - With the port's time-outs (no interval time-out, 100 ms in total) a
    //   ReadFile returns when it has all it asked for or when the 100 ms are
    //   up. Asking for more than is waiting would hold every read for the
    //   full 100 ms even with bytes at hand (an XMODEM acknowledgement poll
    //   would cost 100 ms per block). So ask for what is waiting, or for one
    //   byte when nothing is: that returns as soon as the byte arrives.
    // - A line error (framing, overrun) stops all reads on a port whose DCB
    //   has fAbortOnError set until ClearCommError clears it.
    // - A reader thread keeps a copy of the handle value. Once the port is
    //   closed that value may already name some other object (a file, a
    //   pipe); ClearCommError fails on anything that is not a serial port, so
    //   the read fails instead of reading, or blocking on, the wrong object.
    //   Only a network port's pipe, known by its size, is read then, and
    //   only for what waits in it.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(to_win(h), &errors, &stat))
        return is_network_end(to_win(h)) ? read_pipe(to_win(h), buf, n) : -1;
    if (stat.cbInQue == 0) {
        // Closing the port puts back the time-outs it had before, often none
        // at all (a read then waits for a byte however long it takes). A
        // reader thread that reads in that moment would block for good, on
        // Windows holding the handle's I/O lock against the close. Such a
        // read is not made: it reports "nothing arrived" at once, and the
        // reader finds the port closed.
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(to_win(h), &t)) return -1;
        if (!read_is_bounded(t)) return 0;
    }
    const std::size_t want =
        std::clamp<std::size_t>(stat.cbInQue, 1, std::min<std::size_t>(n, 0x7fffffff));
    DWORD got = 0;
    if (!ReadFile(to_win(h), buf, static_cast<DWORD>(want), &got, nullptr)) return -1;
    return static_cast<long>(got);
}

bool write_all_device(Handle writer, const void* data, std::size_t n) {
    if (is_invalid(writer)) return false;
    if (n > 0xffffffffu) return false;  // never one WriteFile call
    DWORD written = 0;
    const BOOL ok = WriteFile(to_win(writer), data, static_cast<DWORD>(n), &written, nullptr);
    if (ok && written == n) return true;
    // Timed out (the write time-outs) or failed: nothing stays queued behind it.
    if (ok) PurgeComm(to_win(writer), PURGE_TXABORT | PURGE_TXCLEAR);
    return false;
}

std::vector<std::string> list_ports(std::size_t limit, std::size_t max_name_length) {
    std::vector<std::string> ports;
    if (limit == 0) return ports;

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;

    DWORD value_count = 0;
    DWORD max_value_name_len = 0;
    DWORD max_data_len = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &value_count,
                         &max_value_name_len, &max_data_len, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return ports;
    }

    // The value names (device paths such as \Device\Serial0), in the order the
    // registry enumerates them.
    std::vector<std::string> value_names;
    std::string name_buf(static_cast<std::size_t>(max_value_name_len) + 1, '\0');
    for (DWORD i = 0; i < value_count; ++i) {
        DWORD name_len = static_cast<DWORD>(name_buf.size());
        const LONG rc =
            RegEnumValueA(key, i, name_buf.data(), &name_len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;
        value_names.emplace_back(name_buf.data(), name_len);
    }

    // The port names are the values' data (COM3). A name that would not fit
    // the caller's field with its NUL is skipped, never cut.
    for (const std::string& value_name : value_names) {
        if (ports.size() >= limit) break;
        std::string port = read_string_value(key, value_name.c_str(), max_data_len);
        if (port.empty() || port.size() >= max_name_length) continue;
        ports.push_back(std::move(port));
    }

    RegCloseKey(key);
    return ports;
}

}  // namespace zorvik::serial
