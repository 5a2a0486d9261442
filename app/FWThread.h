// FWThread: FWUpdateThread, the worker that runs one firmware download: the
// programming sentence at the NMEA rate, the reopen at 115200, the wait for
// the boot loader's NAK, the XMODEM-1K transfer and the reopen at the NMEA rate.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>

#include "zorvik/service/flash.h"

// Everything a run needs, captured on the GUI thread when Start is pressed,
// so that the worker never reads a widget or a shared text.
struct FWRunParams {
    QString file_name;     // fw_file_name
    int kind_index = 0;    // ComboBox2's index: 0 FirmWare, 1 Flash Kernel, 2 FSA, 3 All Image
    QString waiting_text;  // Edit4's text, the NAK waiting time in milliseconds
    QString port_name;     // PortName
    QString saved_baud;    // BaudRateText as it was at Start
};

// Status line texts of a run (the shared procedure's own).
namespace fwstatus = zorvik::service::flash_text;

// Parses the "Waiting Time" text: decimal digits (surrounding blanks allowed)
// giving 0 to 2^31-1 milliseconds. False for anything else.
bool ParseWaitingTime(const QString& text, int& out_ms);

class FWUpdateThread : public QThread {
    Q_OBJECT
  public:
    explicit FWUpdateThread(FWRunParams params, QObject* parent = nullptr);
    // Waits for the body; the acquire pairs with the body's last store, so the
    // worker's last accesses are ordered before the object goes away.
    ~FWUpdateThread() override {
        wait();
        (void)body_done_.load(std::memory_order_acquire);
    }

    // Asks the run to stop. The worker checks it between the steps and in its
    // waits; once it has seen it, it touches neither the port nor the shared
    // state again and ends. A transfer already inside Xmodem_1K runs to its end
    // (each block is bounded by the one-second acknowledgement limit).
    void Cancel() { cancel_.store(true); }
    bool Cancelled() const { return cancel_.load(); }

  signals:
    // All of these reach the dialog on the GUI thread (queued).
    void Timer1Enabled(bool on);
    void StatusText(const QString& text);
    void BaudRateTextChanged(const QString& text);
    // The run has ended; download_running is already 0. completed is true
    // when the procedure ran to its last step.
    void RunEnded(bool completed);

  protected:
    void run() override;

  private:
    // The download procedure (the shared run, with the dialog's hooks); run()
    // marks its end for the destructor.
    void Procedure();
    // The end for a failure: download_running 0, then tell the dialog.
    void Fail();

    FWRunParams params_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> body_done_{false};
};
