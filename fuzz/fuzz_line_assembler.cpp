// The reader's line assembly fed with any bytes, each completed line handed
// to ParseNMEA as the reader does: no crash, no read outside the line buffer,
// and every line the assembler yields starts with '$' and fits its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "LineAssembler.h"
#include "ZorvikDll.h"

using zorvik::link::LineAssembler;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static LineAssembler assembler;
    assembler.reset();
    for (std::size_t i = 0; i < size; ++i) {
        const LineAssembler::Result result = assembler.feed(data[i]);
        if (result == LineAssembler::Result::Overflow) {
            assembler.reset();
            continue;
        }
        if (result != LineAssembler::Result::Line) continue;
        char* line = assembler.line();
        const std::size_t length = std::strlen(line);
        if (line[0] != '$' || length >= static_cast<std::size_t>(LineAssembler::kCapacity))
            std::abort();
        ParseNMEA(line);
        assembler.release_line();
    }
    return 0;
}
