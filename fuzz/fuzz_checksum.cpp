// CheckSum and Calculate_CheckSum on arbitrary texts in exact-length heap
// buffers: they must stop at the '*' or the text's end, and agree with each
// other on the digits CheckSum produces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ZorvikDll.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const void* nul = std::memchr(data, 0, size);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    auto text = std::make_unique<char[]>(n + 1);
    std::memcpy(text.get(), data, n);
    text[n] = '\0';

    const int sum = CheckSum(text.get());
    if (sum < 0 || sum > 255) std::abort();
    Calculate_CheckSum(text.get());

    // The text up to its first '*' with CheckSum's digits appended must verify.
    if (n > 0) {
        const char* star = static_cast<const char*>(std::memchr(text.get(), '*', n));
        std::string line(text.get(), star ? static_cast<std::size_t>(star - text.get()) : n);
        line += '*';
        CheckSum(line.c_str());
        ParseNMEAInfo info;
        GetParseNMEAInfo(&info);
        line += info.checksum_text;
        if (Calculate_CheckSum(line.c_str()) != 1) std::abort();
    }
    return 0;
}
