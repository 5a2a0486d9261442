// The library's internals as its tests, fuzz targets and benchmarks reach
// them: the state record and its lock, the port as the library's units use
// it, the load lifecycle, the loader images, the ephemeris walks, the NMEA
// checksum rule and the VBI frame constants, and the library's test hooks.
// Only ZorvikDll_static offers this folder: the program and every user of
// the shared library see ZorvikDll.h alone.
#pragma once

#include <mutex>

#include "../src/ephemeris.h"
#include "../src/library_lifecycle.h"
#include "../src/loader_images.h"
#include "../src/nmea_checksum.h"
#include "../src/serial_link.h"
#include "../src/state_record.h"
#include "../src/system_clock.h"
#include "../src/vbi_frame.h"
#include "ZorvikDll.h"

namespace zorvik::testing {

// Puts the library's record back to its all-zero state at load.
inline void reset_record() {
    std::lock_guard lock(state_mutex());
    state() = ParseNMEAInfo{};
}

}  // namespace zorvik::testing
