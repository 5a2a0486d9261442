// The reason of the last failed COM_Open, kept for COM_LastOpenError.
#pragma once

#include <string>

#include "open_failure.h"
#include "serial_port.h"

namespace zorvik {

// Opens the port as serial::open_exclusive does and keeps why it failed.
serial::Port open_port_noting_failure(const std::string& port_name);
// Keeps the reason of an open that failed after the port itself had opened.
void note_open_failure(serial::OpenFailure failure);

}  // namespace zorvik
