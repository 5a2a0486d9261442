// Virtual ports: a program (such as the receiver simulator) registers a
// pseudo-terminal under a port name as a symbolic link in the user's own
// registry directory, the way a virtual COM port driver does; the port list
// reads that directory. Each user has a registry of their own, so that one
// user's ports never show in, or take the place of, another's.
#pragma once

#include <string>

namespace zorvik::serial {

// The user's registry directory: $XDG_RUNTIME_DIR/zorvik-ports when that
// runtime directory is the user's own, else /tmp/zorvik-ports-<uid>. Tests
// point it elsewhere so that they do not meet a simulator a user has running.
std::string registry_dir();
void set_registry_dir_for_testing(const std::string& dir);

// True when dir is a real directory (not a link) that the user owns and
// nobody else may write to: only then is it read or written.
bool registry_dir_trusted(const std::string& dir);

// Creates dir (mode 0700) when it is missing; false with a reason in error
// when it cannot be created or is not trusted.
bool prepare_registry_dir(const std::string& dir, std::string& error);

// A port name as the port list shows it and a registry holds it: printable
// ASCII without blanks or '/', and not hidden (no leading '.').
bool valid_port_name(const std::string& name);

// True when dir/name is a link the user owns whose target still exists.
bool registered_port_live(const std::string& dir, const std::string& name);

}  // namespace zorvik::serial
