// The receiver simulator's input parsers on arbitrary bytes: the command
// intake (line assembly and command sentences), the boot loader's XMODEM
// block parser and the VBI frame parser. None may crash, hang or read out of
// bounds, and each keeps its own invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "command.h"
#include "vbi.h"
#include "xmodem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses how the rest is cut into reads.
    const std::size_t step = 1 + data[0] % 64;
    const std::uint8_t* p = data + 1;
    const std::size_t n = size - 1;

    sim::LineAssembler lines(128);
    sim::xmodem::Receiver xmodem;
    sim::vbi::Parser vbi;
    std::size_t vbi_bytes = 0;
    for (std::size_t at = 0; at < n; at += step) {
        const std::size_t len = at + step <= n ? step : n - at;
        for (std::size_t i = 0; i < len; ++i) {
            if (lines.push(p[at + i])) {
                const std::string line = lines.take();
                if (line.size() > 128 || line.empty() || line[0] != '$') std::abort();
                const sim::Command cmd = sim::parse_command(line);
                if (cmd.kind != sim::CommandKind::Unknown && !cmd.checksum_ok) std::abort();
            }
        }
        for (const auto& e : xmodem.feed(p + at, len))
            if (e.kind == sim::xmodem::EventKind::Block && e.size != 128 && e.size != 1024)
                std::abort();
        for (const auto& f : vbi.feed(p + at, len)) {
            if (f.bytes.size() != 8 + f.payload_length || f.bytes[0] != 0x81 || f.bytes[1] != 0xFF)
                std::abort();
            vbi_bytes += f.bytes.size();
        }
    }
    xmodem.expire_partial();
    if (xmodem.image().size() % 128 != 0) std::abort();
    while (vbi.partial()) vbi.expire_partial();
    if (vbi_bytes + vbi.skipped_total() > n) std::abort();
    // The whole input as one command line too.
    sim::parse_command(std::string(reinterpret_cast<const char*>(p), n));
    return 0;
}
