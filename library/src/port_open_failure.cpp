// The reason of the last failed COM_Open: the serial layer's code, kept until
// the next open and handed out under the ABI's ZORVIK_OPEN_* values.
#include "port_open_failure.h"

#include <atomic>

#include "ZorvikDll.h"
#include "open_failure.h"

namespace zorvik {

namespace {

using serial::OpenFailure;
static_assert(static_cast<int>(OpenFailure::None) == ZORVIK_OPEN_OK);
static_assert(static_cast<int>(OpenFailure::NoName) == ZORVIK_OPEN_NO_NAME);
static_assert(static_cast<int>(OpenFailure::Absent) == ZORVIK_OPEN_ABSENT);
static_assert(static_cast<int>(OpenFailure::NoPermission) == ZORVIK_OPEN_NO_PERMISSION);
static_assert(static_cast<int>(OpenFailure::Held) == ZORVIK_OPEN_HELD);
static_assert(static_cast<int>(OpenFailure::NotSerialPort) == ZORVIK_OPEN_NOT_SERIAL);
static_assert(static_cast<int>(OpenFailure::Other) == ZORVIK_OPEN_OTHER);
static_assert(static_cast<int>(OpenFailure::BadAddress) == ZORVIK_OPEN_BAD_ADDRESS);
static_assert(static_cast<int>(OpenFailure::UnknownHost) == ZORVIK_OPEN_UNKNOWN_HOST);
static_assert(static_cast<int>(OpenFailure::Refused) == ZORVIK_OPEN_REFUSED);
static_assert(static_cast<int>(OpenFailure::Unreachable) == ZORVIK_OPEN_UNREACHABLE);
static_assert(static_cast<int>(OpenFailure::NoComPortOption) == ZORVIK_OPEN_NO_COM_PORT_OPTION);
static_assert(static_cast<int>(OpenFailure::SettingsRefused) == ZORVIK_OPEN_SETTINGS_REFUSED);
static_assert(static_cast<int>(OpenFailure::ConnectionLost) == ZORVIK_OPEN_CONNECTION_LOST);
static_assert(static_cast<int>(OpenFailure::ServerBusy) == ZORVIK_OPEN_SERVER_BUSY);

std::atomic<int> last_open_failure{ZORVIK_OPEN_OK};

}  // namespace

serial::Port open_port_noting_failure(const std::string& port_name) {
    OpenFailure failure = OpenFailure::None;
    const serial::Port port = serial::open_exclusive(port_name, failure);
    last_open_failure.store(static_cast<int>(failure));
    return port;
}

void note_open_failure(OpenFailure failure) {
    last_open_failure.store(static_cast<int>(failure));
}

}  // namespace zorvik

extern "C" ZORVIK_API int COM_LastOpenError(void) {
    return zorvik::last_open_failure.load();
}
