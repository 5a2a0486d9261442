// ParseNMEA on arbitrary lines, in the two buffers it meets: a heap buffer of
// exactly the text and its NUL (any over-read is caught by ASan), and the
// reader thread's 500-byte zero-filled line buffer. The exported parsers are
// also driven directly from a start position taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "ZorvikDll.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader delivers text up to the first NUL; so does a C string.
    const void* nul = std::memchr(data, 0, size);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;

    auto exact = std::make_unique<char[]>(n + 1);
    std::memcpy(exact.get(), data, n);
    exact[n] = '\0';
    ParseNMEA(exact.get());

    if (n <= 499) {
        char line[500] = {};
        std::memcpy(line, data, n);
        ParseNMEA(line);
    }

    // Direct calls with a start position from the first byte, inside or past
    // the text.
    if (n > 0) {
        const int start = data[0] % 64;
        ParseRMC(start, exact.get());
        ParseGGA(start, exact.get());
        ParseGSV(start, exact.get());
        ParseGSA(start, exact.get());
        ParseFW_Ver(start, exact.get());
        Parse_Customer_FW_Ver(start, exact.get());
        parse_ttff(start, exact.get());
    }

    ParseNMEAInfo info;
    GetParseNMEAInfo(&info);
    GetChStatus();
    sort_sv_cn();
    for (int c = 0; c < 12; ++c) {
        int x = 0, y = 0;
        GetSAT_Pos(info.sv_elevation[c], info.sv_azimuth[c], &x, &y);
    }
    GetGPSTime();
    // Re-arm the second baud step now and then so the follow-up path runs too
    // (with no port open its write fails harmlessly).
    if (n > 1 && data[1] == '#') CMD_Clear_NMEA09_2ndCommmand_done();
    return 0;
}
