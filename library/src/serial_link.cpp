// The library's one serial port: open, close, status, the internal write and
// read used by the command, XMODEM and ephemeris units, and the port scan.
//
// Threads: the GUI thread opens, closes and scans; the program's reader thread
// polls the status; command writers may write from several threads. The
// status and the handle are atomics; open, close and writes hold port_mutex,
// and the library's own byte reads hold read_mutex, which open and close take
// too (read_mutex first, then port_mutex), so that no write or read can reach
// a descriptor after close has handed its number back to the system.
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "library_lifecycle.h"
#include "serial_link.h"
#include "serial_port.h"

namespace zorvik {

namespace {

std::atomic<serial::Handle> port_handle{serial::kInvalidHandle};
std::atomic<int> connected{0};
serial::SavedSettings saved_settings;  // guarded by port_mutex
serial::ByteReader library_reader;     // guarded by read_mutex

std::mutex port_mutex;
std::mutex read_mutex;

// The last scan: names stay in place between scans; scan_count governs.
// Plain arrays, constant-initialised and never destroyed, because the load
// and unload notifications may run before this unit's static objects are
// constructed or after they are destroyed.
std::mutex scan_mutex;
int scan_count = 0;
char scan_ports[ZORVIK_MAX_PORTS][ZORVIK_PORT_NAME_SIZE] = {};

// Both locks held by the caller.
void close_locked() {
    const serial::Handle h = port_handle.load();
    if (h != serial::kInvalidHandle) {
        serial::purge(h, serial::kPurgeRxAbort);
        serial::restore_settings(h, saved_settings);
        serial::close_port(h);
    }
    // A closed descriptor's number is reused by the next open at once:
    // forget it, so that later commands fail instead of writing elsewhere.
    port_handle.store(serial::kInvalidHandle);
    connected.store(0);
    saved_settings.bytes.clear();
    library_reader.reset();
}

}  // namespace

int port_write(const void* data, std::size_t n) {
    std::lock_guard lock(port_mutex);
    const serial::Handle h = port_handle.load();
    if (h == serial::kInvalidHandle || connected.load() == 0) return 0;
    if (n > 0 && data == nullptr) return 0;
    return serial::write_all(h, data, n) ? 1 : 0;
}

int port_read_byte(std::uint8_t& out) {
    std::lock_guard lock(read_mutex);
    const serial::Handle h = port_handle.load();
    if (h == serial::kInvalidHandle || connected.load() == 0) return 0;
    return library_reader.read_byte(h, out) == 1 ? 1 : 0;
}

void serial_link_initialise() {
    std::lock_guard lock(scan_mutex);
    scan_count = 0;
    std::memset(scan_ports, 0, sizeof scan_ports);
}

void serial_link_finalise() {
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
    // A port still open would otherwise be lost and stay held until exit.
    if (port_handle.load() != serial::kInvalidHandle) close_locked();

    const std::string name = port_name ? port_name : "";
    const serial::Handle h = name.empty() ? serial::kInvalidHandle : serial::open_exclusive(name);
    if (h == serial::kInvalidHandle) {
        connected.store(0);
        return 0;
    }
    // A long backlog is stale data from before this session.
    if (serial::queued_input(h) > 1024) serial::purge(h, serial::kPurgeAll);

    serial::save_settings(h, saved_settings);
    // Raw 8N1 without flow control; reads return within 100 ms.
    serial::configure(h, std::string(baud_text ? baud_text : "") + ",N,8,1");

    library_reader.reset();
    port_handle.store(h);
    connected.store(1);
    return static_cast<int>(h);
}

ZORVIK_API void COM_Close(void) {
    std::lock_guard read_lock(read_mutex);  // always before port_mutex
    std::lock_guard port_lock(port_mutex);
    close_locked();
}

ZORVIK_API int GetComPort_connected_Status(void) {
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
