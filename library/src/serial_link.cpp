// The library's one serial port: open, close, status, the internal write and
// read used by the command, XMODEM and ephemeris units, and the port scan.
//
// Threads: the GUI thread opens, closes and scans; the program's reader thread
// polls the status and reads the handle COM_Open returned; command writers may
// write from several threads. Writes go through the port's writer, never
// through that handle, so that they are bounded while the handle's reads still
// wait up to the read time-out. The status and the handle are atomics; open,
// close and writes hold port_mutex, and the library's own byte reads hold
// read_mutex, which open and close take too (read_mutex first, then
// port_mutex), so that no write or read can reach a descriptor after close has
// handed its number back to the system.
//
// A device that goes away (unplugged, the far end of a pseudo-terminal closed)
// closes the port as COM_Close does, found by a failed write or read or by the
// status poll. The program's reader may be reading the old handle value at that
// moment without any lock of ours, so the device is released at once but the
// handle itself stays ours (parked) until the next open or close, which the
// program makes between two reads.
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "library_lifecycle.h"
#include "open_failure.h"
#include "port_open_failure.h"
#include "serial_link.h"
#include "serial_port.h"

namespace zorvik {

namespace {

std::atomic<serial::Handle> port_handle{serial::kInvalidHandle};
std::atomic<int> connected{0};
serial::Handle port_writer = serial::kInvalidHandle;  // guarded by port_mutex
serial::Port parked_port;                             // guarded by port_mutex
serial::SavedSettings saved_settings;                 // guarded by port_mutex
serial::ByteReader library_reader;                    // guarded by read_mutex

std::mutex port_mutex;
std::mutex read_mutex;

// Closes waiting for port_mutex. A writer does not start another write while
// one waits: back-to-back writes to a peer that takes nothing would otherwise
// hold the close for one write bound each.
std::atomic<int> closes_waiting{0};

// The last scan: names stay in place between scans; scan_count governs.
// Plain arrays, constant-initialised and never destroyed, because the load
// and unload notifications may run before this unit's static objects are
// constructed or after they are destroyed.
std::mutex scan_mutex;
int scan_count = 0;
char scan_ports[ZORVIK_MAX_PORTS][ZORVIK_PORT_NAME_SIZE] = {};

// The status poll looks for a vanished device at most this often: the reader
// polls the status once per byte, and a system call per byte costs too much.
constexpr auto kGoneProbeInterval = std::chrono::milliseconds(50);
std::atomic<std::chrono::steady_clock::rep> next_gone_probe{0};

// Both locks held by the caller.
void close_locked() {
    const serial::Port port{port_handle.load(), port_writer};
    if (port.handle != serial::kInvalidHandle) {
        // What was written goes out at the rate it was written at; only the
        // read time-outs are put back, never the rate.
        serial::drain(port.handle);
        serial::purge(port.handle, serial::kPurgeRxAbort);
        serial::restore_settings(port.handle, saved_settings);
        serial::close_port(port);
    }
    if (parked_port.handle != serial::kInvalidHandle) {
        serial::close_port(parked_port);
        parked_port = {};
    }
    // A closed descriptor's number is reused by the next open at once:
    // forget both, so that later commands fail instead of writing elsewhere.
    port_handle.store(serial::kInvalidHandle);
    port_writer = serial::kInvalidHandle;
    connected.store(0);
    saved_settings.bytes.clear();
    library_reader.reset();
}

// port_mutex held. When the device behind h has gone, the port is closed
// for good (status 0, handles invalid) and the handle parked.
void close_if_gone_locked(serial::Handle h) {
    if (h == serial::kInvalidHandle || port_handle.load() != h || !serial::device_gone(h)) return;
    serial::Port port{h, port_writer};
    serial::release_device(port);
    parked_port = port;
    port_handle.store(serial::kInvalidHandle);
    port_writer = serial::kInvalidHandle;
    connected.store(0);
    saved_settings.bytes.clear();
}

void probe_for_gone_device() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    auto due = next_gone_probe.load();
    if (now < due) return;
    const auto next =
        now +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(kGoneProbeInterval).count();
    if (!next_gone_probe.compare_exchange_strong(due, next)) return;  // another thread probes
    // A writer holding the lock finds a vanished device by itself.
    std::unique_lock lock(port_mutex, std::try_to_lock);
    if (lock.owns_lock()) close_if_gone_locked(port_handle.load());
}

}  // namespace

int port_write(const void* data, std::size_t n) {
    std::lock_guard lock(port_mutex);
    const serial::Handle h = port_handle.load();
    if (h == serial::kInvalidHandle || connected.load() == 0) return 0;
    if (n > 0 && data == nullptr) return 0;
    if (closes_waiting.load() > 0) return 0;  // the port is closing under it
    if (serial::write_all(port_writer, data, n)) return 1;
    close_if_gone_locked(h);
    return 0;
}

int port_read_byte(std::uint8_t& out) {
    std::lock_guard lock(read_mutex);
    const serial::Handle h = port_handle.load();
    if (h == serial::kInvalidHandle || connected.load() == 0) return 0;
    const int got = library_reader.read_byte(h, out);
    if (got < 0) {
        std::lock_guard port_lock(port_mutex);
        close_if_gone_locked(h);
    }
    return got == 1 ? 1 : 0;
}

void serial_link_clear_scan() {
    std::lock_guard lock(scan_mutex);
    scan_count = 0;
    std::memset(scan_ports, 0, sizeof scan_ports);
}

}  // namespace zorvik

using namespace zorvik;

extern "C" {

ZORVIK_API int COM_Open(const char* port_name, const char* baud_text) {
    std::lock_guard read_lock(read_mutex);  // always before port_mutex
    std::lock_guard port_lock(port_mutex);
    // A port still open would otherwise be lost and stay held until exit; a
    // handle parked after a lost device is freed here too.
    close_locked();

    const std::string name = port_name ? port_name : "";
    const serial::Port port = open_port_noting_failure(name);
    const serial::Handle h = port.handle;
    if (h == serial::kInvalidHandle) {
        connected.store(0);
        return 0;
    }
    // A long backlog is stale data from before this session.
    if (serial::queued_input(h) > serial::kDriverQueueLimit) serial::purge(h, serial::kPurgeAll);

    serial::save_settings(h, saved_settings);
    // Raw 8N1 without flow control; reads return within 100 ms. A device
    // server that did not take the settings has not set the rate asked for:
    // the port is not open at it.
    const serial::OpenFailure refused =
        serial::configure(h, std::string(baud_text ? baud_text : "") + ",N,8,1");
    if (refused != serial::OpenFailure::None) {
        serial::close_port(port);
        saved_settings.bytes.clear();
        note_open_failure(refused);
        connected.store(0);
        return 0;
    }

    library_reader.reset();
    port_writer = port.writer;
    port_handle.store(h);
    connected.store(1);
    return static_cast<int>(h);
}

ZORVIK_API void COM_Close(void) {
    closes_waiting.fetch_add(1);
    {
        std::lock_guard read_lock(read_mutex);  // always before port_mutex
        std::lock_guard port_lock(port_mutex);
        close_locked();
    }
    closes_waiting.fetch_sub(1);
}

ZORVIK_API int GetComPort_connected_Status(void) {
    if (connected.load() == 1) probe_for_gone_device();
    return connected.load();
}

ZORVIK_API void ScanComPort(void) {
    const std::vector<std::string> found =
        serial::list_ports(ZORVIK_MAX_PORTS, ZORVIK_PORT_NAME_SIZE);
    std::lock_guard lock(scan_mutex);
    int n = 0;
    for (const std::string& name : found) {
        // list_ports keeps to both limits; a name that would not fit whole is
        // still left out rather than cut.
        if (n == ZORVIK_MAX_PORTS) break;
        if (name.size() >= ZORVIK_PORT_NAME_SIZE) continue;
        std::memset(scan_ports[n], 0, ZORVIK_PORT_NAME_SIZE);
        std::memcpy(scan_ports[n], name.data(), name.size());
        ++n;
    }
    scan_count = n;
}

ZORVIK_API void GetScanComPortPara(ComInfo* info) {
    if (!info) return;
    std::lock_guard lock(scan_mutex);
    info->count = scan_count;
    for (int i = 0; i < scan_count; ++i)
        std::memcpy(info->names[i], scan_ports[i], ZORVIK_PORT_NAME_SIZE);
}

}  // extern "C"
