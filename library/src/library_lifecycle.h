// The library's start-up and shut-down work, run once at the outermost of
// nested load and unload notifications.
#pragma once

namespace zorvik {

// Use-counted: only the first initialise and the matching last finalise act.
void library_initialise();
void library_finalise();

// The one entry point for the loader's notifications: attach (1) initialises,
// detach (0) finalises, thread notifications do nothing. Always succeeds.
// The entry unit of the platform (src/entry_posix.cpp or src/entry_win32.cpp) calls it.
int library_entry(unsigned reason);

// Work of the serial link unit (serial_link.cpp), done at load and at unload:
// empties the last port scan.
void serial_link_clear_scan();

}  // namespace zorvik
