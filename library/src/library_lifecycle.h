// The library's start-up and shut-down work, run once at the outermost of
// nested load and unload notifications.
#pragma once

namespace zorvik {

// Use-counted: only the first initialise and the matching last finalise act.
void library_initialise();
void library_finalise();

// Work of the serial link unit (serial_link.cpp).
void serial_link_initialise();
void serial_link_finalise();

}  // namespace zorvik
