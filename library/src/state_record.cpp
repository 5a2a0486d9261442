// The receiver state record, its snapshot and the done-flag resets.
#include "state_record.h"

#include <cstring>

namespace zorvik {

ParseNMEAInfo& state() {
    static ParseNMEAInfo record{};
    return record;
}

std::mutex& state_mutex() {
    static std::mutex m;
    return m;
}

ClockFields& clock_fields() {
    static ClockFields fields;
    return fields;
}

}  // namespace zorvik

using zorvik::state;
using zorvik::state_mutex;

extern "C" {

ZORVIK_API void GetParseNMEAInfo(ParseNMEAInfo* info) {
    if (!info) return;
    std::lock_guard lock(state_mutex());
    std::memcpy(info, &state(), sizeof(ParseNMEAInfo));
}

#define ZORVIK_CLEAR_EXPORT(export_name, field)  \
    ZORVIK_API void export_name(void) {          \
        std::lock_guard lock(state_mutex());     \
        state().field = 0;                       \
    }

ZORVIK_CLEAR_EXPORT(CMD_Clear_NMEA09_2ndCommmand_done, NMEA09_2ndCommmand_done)
ZORVIK_CLEAR_EXPORT(CMD_Clear_parse_rmc_done, parse_rmc_done)
ZORVIK_CLEAR_EXPORT(CMD_Clear_parse_gsv_done, parse_gsv_done)
ZORVIK_CLEAR_EXPORT(CMD_Clear_parse_gsa_done, parse_gsa_done)
ZORVIK_CLEAR_EXPORT(CMD_Clear_parse_gga_done, parse_gga_done)
ZORVIK_CLEAR_EXPORT(CMD_Clear_parse_ttff_done, parse_ttff_done)
ZORVIK_CLEAR_EXPORT(CMD_Clear_restart_begin, restart_begin)
ZORVIK_CLEAR_EXPORT(CMD_Clear_nmea_sentence, nmea_sentence)

#undef ZORVIK_CLEAR_EXPORT

}  // extern "C"
