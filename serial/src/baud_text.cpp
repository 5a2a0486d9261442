// Baud texts as the program, the command line and COM_Open pass them.
#include <cctype>

#include "serial_port.h"

namespace zorvik::serial {

std::optional<unsigned long> parse_baud(const std::string& text) {
    // Nine digits stay within 32 bits (DWORD on Win32).
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value;
}

}  // namespace zorvik::serial
