#include "SentenceCheck.h"

#include <string>

#include "ZorvikDll.h"

namespace zorvik::link {

namespace {

constexpr std::size_t kChecksumDigits = 2;

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool ChecksumHolds(std::string_view raw) {
    const std::string_view text = raw.substr(0, raw.find_first_of("\r\n"));
    if (text.empty() || text.front() != '$') return false;
    const std::size_t star = text.find('*');
    if (star == std::string_view::npos || text.size() - star - 1 != kChecksumDigits) return false;
    if (!IsUpperHexDigit(text[star + 1]) || !IsUpperHexDigit(text[star + 2])) return false;
    // The library holds the rule; its check wants a terminated text.
    const std::string line(text);
    return Calculate_CheckSum(line.c_str()) == 1;
}

}  // namespace zorvik::link
