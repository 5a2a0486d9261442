// Receiver command sentences: restarts, baud rate, sentence selection,
// single channel mode, version queries, flash programming, input switching
// between NMEA and VBI, and the operator's free command line.
#include "commands.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "ZorvikDll.h"
#include "nmea_checksum.h"
#include "serial_link.h"
#include "state_record.h"
#include "vbi_frame.h"

namespace zorvik {

std::recursive_mutex& command_mutex() {
    static std::recursive_mutex m;
    return m;
}

}  // namespace zorvik

namespace {

using zorvik::command_mutex;

// Every command is built here from its first byte and written with exactly
// its own length; bytes behind it keep what a longer command left.
unsigned char command_buffer[32];

constexpr std::string_view kColdStart = "$PKVX02,5C*4D\r\n";
constexpr std::string_view kWarmStart = "$PKVX02,48*37\r\n";
constexpr std::string_view kHotStart = "$PKVX02,8*03\r\n";
constexpr std::string_view kFwVersion = "$PKVX14,8*04\r\n";
constexpr std::string_view kCustomerVersion = "$PKVX28,00*33\r\n";
constexpr std::string_view kExitSingleChannel = "$PKVX08,,*1D\r\n";
constexpr std::string_view kProgAp = "$PKVX11,1,0,6,2,0*0C\r\n";
constexpr std::string_view kProgFk = "$PKVX11,1,0,6,2,1*0D\r\n";
constexpr std::string_view kProgFsa = "$PKVX11,1,0,6,2,2*0E\r\n";
constexpr std::string_view kProgAllImage = "$PKVX11,1,0,6,2,3*0F\r\n";
constexpr std::string_view kWriteLte = "$PKVX11,1,0,6,2,4*08\r\n";
constexpr std::string_view kNmeaToVbi = "$PKVX11,1,0,1,2,0*0B\r\n";

// Stored sentences carry the digits of the checksum rule; checked here once
// at compile time so that a mistyped digit cannot ship.
constexpr bool stored_sentence_ok(std::string_view s) {
    return zorvik::nmea::sentence_checksum_ok(s, "\r\n");
}
static_assert(stored_sentence_ok(kColdStart) && kColdStart.size() == 15);
static_assert(stored_sentence_ok(kWarmStart) && kWarmStart.size() == 15);
static_assert(stored_sentence_ok(kHotStart) && kHotStart.size() == 14);
static_assert(stored_sentence_ok(kFwVersion) && kFwVersion.size() == 14);
static_assert(stored_sentence_ok(kCustomerVersion) && kCustomerVersion.size() == 15);
static_assert(stored_sentence_ok(kExitSingleChannel) && kExitSingleChannel.size() == 14);
static_assert(stored_sentence_ok(kProgAp) && kProgAp.size() == 22);
static_assert(stored_sentence_ok(kProgFk) && kProgFk.size() == 22);
static_assert(stored_sentence_ok(kProgFsa) && kProgFsa.size() == 22);
static_assert(stored_sentence_ok(kProgAllImage) && kProgAllImage.size() == 22);
static_assert(stored_sentence_ok(kWriteLte) && kWriteLte.size() == 22);
static_assert(stored_sentence_ok(kNmeaToVbi) && kNmeaToVbi.size() == 22);

enum class Clears { kNothing, kFwVersionDone, kCustomerVersionDone };

void clear_flag(Clears which) {
    if (which == Clears::kNothing) return;
    std::lock_guard lock(zorvik::state_mutex());
    ParseNMEAInfo& s = zorvik::state();
    if (which == Clears::kFwVersionDone) s.parse_fw_ver_done = 0;
    if (which == Clears::kCustomerVersionDone) s.parse_customer_fw_ver_done = 0;
}

int send_bytes(const void* bytes, std::size_t n, Clears clears = Clears::kNothing) {
    std::lock_guard lock(command_mutex());
    std::memcpy(command_buffer, bytes, n);
    // Cleared before the query leaves, whatever the write returns: a reply
    // that comes back and is parsed while the write call is still returning
    // is the fresh one and must not be cleared away.
    clear_flag(clears);
    return zorvik::port_write(command_buffer, n);
}

int send_stored(std::string_view sentence, Clears clears = Clears::kNothing) {
    return send_bytes(sentence.data(), sentence.size(), clears);
}

// A sentence whose body is known only at run time: body, '*', two checksum
// digits, CR LF. The digits come from CheckSum, which also leaves them in
// the record's checksum_text.
int send_built(const char* body, std::size_t n) {
    std::lock_guard lock(command_mutex());
    std::memcpy(command_buffer, body, n);
    command_buffer[n] = '*';
    command_buffer[n + 3] = '\r';
    command_buffer[n + 4] = '\n';
    const int sum = CheckSum(reinterpret_cast<const char*>(command_buffer));
    zorvik::nmea::checksum_digits(static_cast<unsigned>(sum),
                                  reinterpret_cast<char*>(command_buffer + n + 1));
    return zorvik::port_write(command_buffer, n + 5);
}

}  // namespace

extern "C" {

ZORVIK_API int CMD_ColdStart(void) {
    return send_stored(kColdStart, Clears::kFwVersionDone);
}
ZORVIK_API int CMD_WarmStart(void) {
    return send_stored(kWarmStart, Clears::kFwVersionDone);
}
ZORVIK_API int CMD_HotStart(void) {
    return send_stored(kHotStart, Clears::kFwVersionDone);
}
ZORVIK_API int CMD_FWVersion(void) {
    return send_stored(kFwVersion, Clears::kFwVersionDone);
}
ZORVIK_API int CMD_CustomerVersion(void) {
    return send_stored(kCustomerVersion, Clears::kCustomerVersionDone);
}

ZORVIK_API int CMD_Set_BuadRate(int code) {
    const char body[] = {
        '$', 'P', 'K', 'V', 'X', '0', '9', ',', '2', ',', static_cast<char>((code & 0xFF) + 0x30)};
    return send_built(body, sizeof body);
}

ZORVIK_API int CMD_NMEA09_2ndCommmand(void) {
    static constexpr char body[] = "$PKVX09,,";
    return send_built(body, sizeof body - 1);
}

ZORVIK_API int CMD_SetNMEASentences(int sentence, int mode) {
    // Mode 0 switches the sentence on ("4"), mode 1 off ("0"); any other
    // mode has no character, and the command is refused rather than sent
    // with an undefined byte.
    if (mode != 0 && mode != 1) return 0;
    const char body[] = {'$',
                         'P',
                         'K',
                         'V',
                         'X',
                         '1',
                         '2',
                         ',',
                         static_cast<char>((sentence & 0xFF) + 0x30),
                         ',',
                         mode == 0 ? '4' : '0',
                         ','};
    return send_built(body, sizeof body);
}

ZORVIK_API int In_Single_Channel_Mode(char first, char second) {
    const char body[] = {'$', 'P', 'K', 'V', 'X', '0', '8', ',', first, second};
    return send_built(body, sizeof body);
}

ZORVIK_API int Exit_Single_Channel_Mode(void) {
    return send_stored(kExitSingleChannel);
}
ZORVIK_API int CMD_Prog_AP(void) {
    return send_stored(kProgAp);
}
ZORVIK_API int CMD_Prog_FK(void) {
    return send_stored(kProgFk);
}
ZORVIK_API int CMD_Prog_FSA(void) {
    return send_stored(kProgFsa);
}
ZORVIK_API int CMD_Prog_AllImage(void) {
    return send_stored(kProgAllImage);
}
ZORVIK_API int CMD_WriteLTEToSPIFlash(void) {
    return send_stored(kWriteLte);
}
ZORVIK_API int CMD_NMEAToVBI_Input(void) {
    return send_stored(kNmeaToVbi);
}
ZORVIK_API int CMD_VBIToNMEA_Input(void) {
    return send_bytes(zorvik::vbi::kSwitchToNmea, sizeof zorvik::vbi::kSwitchToNmea);
}

ZORVIK_API int CMD_SendNMEACommand(const char* text, int length) {
    if (!text || length <= 0) return 0;
    // Never beyond the caller's text, whatever length says.
    const std::size_t n = strnlen(text, static_cast<std::size_t>(length));
    std::lock_guard lock(command_mutex());
    const bool body_sent = zorvik::port_write(text, n) != 0;
    // The checksum of the very text just written, computed under the command
    // lock: a command sent by another thread (the intake's second baud-rate
    // step) between the caller's CheckSum and this call cannot change it.
    const unsigned sum = zorvik::nmea::checksum_value(text, n);
    {
        std::lock_guard state_lock(zorvik::state_mutex());
        char* digits = zorvik::state().checksum_text;
        zorvik::nmea::checksum_digits(sum, digits);
        digits[2] = '\0';
    }
    // A body that did not go out whole gets no trailer: the command was not
    // sent, and a lone checksum would only reach the receiver as noise.
    if (!body_sent) return 0;
    zorvik::nmea::checksum_digits(sum, reinterpret_cast<char*>(command_buffer));
    command_buffer[2] = '\r';
    command_buffer[3] = '\n';
    return zorvik::port_write(command_buffer, 4);
}

}  // extern "C"
