// The receiver command sentences share one output buffer and the port. One
// command lock serialises building and writing a command across the GUI,
// reader and download threads.
//
// Lock order: the command lock may be held while taking the state lock
// (zorvik::state_mutex()), never the other way round. The lock is recursive
// so that a unit holding it for a longer exchange may issue commands itself.
#pragma once

#include <mutex>

namespace zorvik {

std::recursive_mutex& command_mutex();

}  // namespace zorvik
