// Opening, closing and reopening the library's port by name at a rate, for
// the program and the command line alike. The library owns the port; these
// only choose the moment, so that no reader of this module is inside a read
// when the handle changes (on POSIX a closed descriptor's number is reused by
// the next open at once).
#pragma once

#include <string>

#include "ZorvikDll.h"

namespace zorvik::link {

// What an open did: the handle COM_Open returned (0: it failed) and, after a
// failure, why (a ZORVIK_OPEN_* code from COM_LastOpenError).
struct OpenResult {
    int handle = 0;
    int failure = ZORVIK_OPEN_OK;
    bool ok() const { return handle != 0; }
};

OpenResult OpenPort(const std::string& port_name, const std::string& baud_text);
void ClosePort();
// Closes the port (what was written drains at the old rate) and opens it again.
OpenResult ReopenPort(const std::string& port_name, const std::string& baud_text);

// A reader's hold on the port around one status check and one read; OpenPort
// and ClosePort wait until it is released.
class ReadTurn {
  public:
    // True while an open or close waits: a reader steps aside before its next turn.
    static bool OpenOrCloseWaiting();
    ReadTurn();
    ~ReadTurn();
    ReadTurn(const ReadTurn&) = delete;
    ReadTurn& operator=(const ReadTurn&) = delete;
    void Release();

  private:
    bool held_ = true;
};

}  // namespace zorvik::link
