#include "BaudChange.h"

#include "network_port.h"

namespace zorvik::link {

int SendRateCommand(int code) {
    CMD_Clear_NMEA09_2ndCommmand_done();
    return CMD_Set_BuadRate(code);
}

bool RateSwitched(const ParseNMEAInfo& record) {
    return record.NMEA09_2ndCommmand_done != 0;
}

void LeaveOldRate() {
    CMD_Clear_NMEA09_2ndCommmand_done();
    ClosePort();
}

bool RateFollows(const std::string& port_name) {
    return serial::rate_follows(port_name);
}

OpenResult OpenAtNewRate(const std::string& port_name, const std::string& baud_text) {
    CMD_Clear_parse_gsv_done();
    CMD_Clear_parse_gsa_done();
    CMD_Clear_parse_rmc_done();
    return OpenPort(port_name, baud_text);
}

}  // namespace zorvik::link
