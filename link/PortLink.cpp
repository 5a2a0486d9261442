#include "PortLink.h"

#include <atomic>
#include <mutex>

namespace zorvik::link {

namespace {

// Held by a reader around each status check and read, and around each open
// and close. A waiting open or close makes the reader step aside before its
// next read, so it is not starved by a reader that reads all the time.
std::mutex port_use;
std::atomic<int> port_waiters{0};

class OpenCloseTurn {
  public:
    OpenCloseTurn() {
        port_waiters.fetch_add(1);
        port_use.lock();
    }
    ~OpenCloseTurn() {
        port_use.unlock();
        port_waiters.fetch_sub(1);
    }
    OpenCloseTurn(const OpenCloseTurn&) = delete;
    OpenCloseTurn& operator=(const OpenCloseTurn&) = delete;
};

OpenResult OpenLocked(const std::string& port_name, const std::string& baud_text) {
    OpenResult result;
    result.handle = COM_Open(port_name.c_str(), baud_text.c_str());
    if (!result.ok()) result.failure = COM_LastOpenError();
    return result;
}

}  // namespace

OpenResult OpenPort(const std::string& port_name, const std::string& baud_text) {
    OpenCloseTurn turn;
    return OpenLocked(port_name, baud_text);
}

void ClosePort() {
    OpenCloseTurn turn;
    COM_Close();
}

OpenResult ReopenPort(const std::string& port_name, const std::string& baud_text) {
    OpenCloseTurn turn;
    COM_Close();
    return OpenLocked(port_name, baud_text);
}

bool ReadTurn::OpenOrCloseWaiting() {
    return port_waiters.load() > 0;
}

ReadTurn::ReadTurn() {
    port_use.lock();
}

ReadTurn::~ReadTurn() {
    Release();
}

void ReadTurn::Release() {
    if (!held_) return;
    held_ = false;
    port_use.unlock();
}

}  // namespace zorvik::link
