#include "FWThread.h"

#include "Unit11.h"

#include <chrono>
#include <climits>
#include <cstdint>

#include "Main.h"
#include "ZorvikDll.h"
#include "serial_port.h"

namespace {

constexpr std::uint8_t kNak = 0x15;
constexpr int kPauseSliceMs = 20;

// The receiver's boot loader always talks at this rate.
const char* const kLoaderBaud = "115200";

void SendProgrammingCommand(int kind_index) {
    switch (kind_index) {
        case 1:
            CMD_Prog_FK();
            break;
        case 2:
            CMD_Prog_FSA();
            break;
        case 3:
            CMD_Prog_AllImage();
            break;
        default:
            CMD_Prog_AP();
            break;
    }
}

}  // namespace

QString XmodemResultText(int result) {
    switch (result) {
        case 515:
            return QString::fromLatin1(fwstatus::kUploadOk);
        case 512:
            return QStringLiteral("File upload failed: file cannot be opened (512)!(NG)");
        case 513:
            return QStringLiteral("File upload failed: port write error (513)!(NG)");
        case 514:
            return QStringLiteral("File upload failed: receiver did not acknowledge (514)!(NG)");
        default:
            return QStringLiteral("File upload failed (%1)!(NG)").arg(result);
    }
}

bool ParseWaitingTime(const QString& text, int& out_ms) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 10) return false;
    for (QChar c : t) {
        if (c < QChar('0') || c > QChar('9')) return false;
    }
    const qlonglong value = t.toLongLong();
    if (value > INT_MAX) return false;
    out_ms = static_cast<int>(value);
    return true;
}

FWUpdateThread::FWUpdateThread(FWRunParams params, QObject* parent)
    : QThread(parent), params_(std::move(params)) {}

bool FWUpdateThread::Pause(int ms) {
    using clock = std::chrono::steady_clock;
    const auto end = clock::now() + std::chrono::milliseconds(ms);
    while (!Cancelled()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now()).count();
        if (left <= 0) return true;
        QThread::msleep(static_cast<unsigned long>(left < kPauseSliceMs ? left : kPauseSliceMs));
    }
    return false;
}

bool FWUpdateThread::Reopen(const QString& baud, bool& opened) {
    ClosePortBetweenReads();
    if (!Pause(500)) return false;
    emit BaudRateTextChanged(baud);
    const int handle = OpenPortBetweenReads(params_.port_name, baud);
    PortHandle.store(handle);
    opened = handle != 0;
    if (!opened) emit StatusText(QString::fromLatin1(fwstatus::kCannotOpen));
    return true;
}

void FWUpdateThread::Fail() {
    download_running.store(0);
    emit RunEnded(false);
}

void FWUpdateThread::run() {
    Procedure();
    body_done_.store(true, std::memory_order_release);
}

void FWUpdateThread::Procedure() {
    if (download_running.load() != 1) return;
    bool opened = false;

    // Steps 1 to 4: progress refresh on, the port closed and reopened at the NMEA rate.
    emit Timer1Enabled(true);
    ClosePortBetweenReads();
    if (!Pause(500)) return;

    int waiting_ms = 0;
    const bool waiting_ok = ParseWaitingTime(params_.waiting_text, waiting_ms);
    {
        emit BaudRateTextChanged(params_.saved_baud);
        const int handle = OpenPortBetweenReads(params_.port_name, params_.saved_baud);
        PortHandle.store(handle);
        opened = handle != 0;
    }
    if (!waiting_ok) {
        // Nothing has been sent: the port is back at the NMEA rate and the
        // dialog usable again.
        emit StatusText(
            QString::fromLatin1(opened ? fwstatus::kBadWaitingTime : fwstatus::kCannotOpen));
        return Fail();
    }
    if (!opened) {
        emit StatusText(QString::fromLatin1(fwstatus::kCannotOpen));
        return Fail();
    }
    if (Cancelled()) return;

    // Steps 5 and 6: the programming sentence twice, at the NMEA rate.
    emit StatusText(QString::fromLatin1(fwstatus::kStarting));
    SendProgrammingCommand(params_.kind_index);
    SendProgrammingCommand(params_.kind_index);
    if (Cancelled()) return;

    // Step 7: the boot loader talks at 115200.
    if (!Reopen(QString::fromLatin1(kLoaderBaud), opened)) return;
    if (!opened) return Fail();
    if (Cancelled()) return;

    // Steps 8 and 9: wait for the boot loader's NAK, which it sends once it
    // has erased the area. The time test follows each read.
    emit StatusText(QString::fromLatin1(fwstatus::kErasing));
    const auto started = std::chrono::steady_clock::now();
    bool nak_seen = false;
    while (!nak_seen) {
        if (Cancelled()) return;
        std::uint8_t byte = 0;
        const long n = zorvik::serial::read_some(PortHandle.load(), &byte, 1);
        if (n == 1 && byte == kNak) nak_seen = true;
        // A port that reports an error returns at once; do not spin on it.
        if (n < 0) QThread::msleep(kPauseSliceMs);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
        if (waited >= waiting_ms) {
            emit StatusText(QString::fromLatin1(fwstatus::kNakTimeout));
            return Fail();
        }
    }
    if (Cancelled()) return;

    // Steps 10 and 11: the transfer. It cannot be interrupted; it ends by
    // itself, at the latest one second after the receiver stops answering.
    emit StatusText(QString::fromLatin1(fwstatus::kTransferring));
    const QByteArray file = params_.file_name.toLocal8Bit();
    const int result = Xmodem_1K(file.constData());
    emit StatusText(XmodemResultText(result));
    if (Cancelled()) return;

    // Step 12: back to the NMEA rate.
    if (!Reopen(params_.saved_baud, opened)) return;
    if (!opened) return Fail();

    // Step 13: completed.
    download_running.store(0);
    emit Timer1Enabled(false);
    if (GetComPort_connected_Status() == 1) Pause(1000);
    emit RunEnded(true);
}
