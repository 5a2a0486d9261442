#include "FWThread.h"

#include "Unit11.h"

#include "Main.h"
#include "ZorvikDll.h"
#include "serial_port.h"

namespace svc = zorvik::service;

namespace {
// A completed run leaves the receiver this long to return to NMEA output
// before the dialog's buttons come back.
constexpr int kAfterRunPauseMs = 1000;
}  // namespace

bool ParseWaitingTime(const QString& text, int& out_ms) {
    return svc::ParseWaitingTime(text.toStdString(), out_ms);
}

FWUpdateThread::FWUpdateThread(FWRunParams params, QObject* parent)
    : QThread(parent), params_(std::move(params)) {}

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
    emit Timer1Enabled(true);

    svc::FlashRequest request;
    request.kind = static_cast<svc::FlashKind>(params_.kind_index);
    request.file = params_.file_name.toLocal8Bit().toStdString();
    request.port_name = params_.port_name.toStdString();
    request.nmea_baud = params_.saved_baud.toStdString();
    if (!ParseWaitingTime(params_.waiting_text, request.nak_wait_ms)) request.nak_wait_ms = -1;

    svc::FlashHooks hooks;
    hooks.status = [this](const std::string& text) {
        emit StatusText(QString::fromStdString(text));
    };
    hooks.baud_changed = [this](const std::string& baud) {
        emit BaudRateTextChanged(QString::fromStdString(baud));
    };
    // Every open and close waits for the reader to be between two reads, and
    // PortHandle follows each open.
    hooks.port.open = [](const std::string& port, const std::string& baud) {
        return OpenPortBetweenReads(QString::fromStdString(port), QString::fromStdString(baud))
            .handle;
    };
    hooks.port.close = [] { ClosePortBetweenReads(); };
    // The NAK wait reads the port itself, 100 ms at a time, as the reader does.
    hooks.port.read_byte = [](std::uint8_t& byte) {
        return static_cast<int>(zorvik::serial::read_some(PortHandle.load(), &byte, 1));
    };
    hooks.pacing.cancel = &cancel_;

    const svc::FlashResult result = svc::RunFlash(request, hooks);
    switch (result.outcome) {
        case svc::FlashOutcome::Cancelled:
            // Close has taken the port over: nothing more is touched here.
            return;
        case svc::FlashOutcome::Failed:
            return Fail();
        case svc::FlashOutcome::Completed:
            break;
    }
    // Step 13: completed.
    download_running.store(0);
    emit Timer1Enabled(false);
    if (GetComPort_connected_Status() == 1) hooks.pacing.Pause(kAfterRunPauseMs);
    emit RunEnded(true);
}
