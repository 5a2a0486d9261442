// Helpers for tests that drive the receiver state record through the intake.
#pragma once

#include <string>
#include <vector>

#include "ZorvikDll.h"
#include "zorvik_testing.h"

namespace zorvik::test {

using zorvik::testing::reset_record;

inline ParseNMEAInfo snapshot() {
    ParseNMEAInfo info;
    GetParseNMEAInfo(&info);
    return info;
}

// Hands one line to ParseNMEA in a heap buffer of exactly its length plus
// NUL, so that any read past the text is an out-of-bounds read.
inline void feed(const std::string& line) {
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    ParseNMEA(buf.data());
}

}  // namespace zorvik::test
