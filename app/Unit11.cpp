#include "Unit11.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include "Main.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "serial_port.h"

// ---- Module-wide reader state ----------------------------------------------

namespace {

// The line state and the byte reader are used only by the reader that holds
// g_read_right, so successive readers never touch them at the same time.
LineAssembler g_line;
zorvik::serial::ByteReader g_bytes;
std::timed_mutex g_read_right;

std::atomic<int> g_live{0};
std::atomic<int> g_reading{0};
std::atomic<int> g_max_reading{0};

// Every reader created, for StopAll (GUI thread only).
QList<QPointer<UartThread>>& all_readers() {
    static QList<QPointer<UartThread>> list;
    return list;
}

// A pass that neither reads nor blocks (port closed, download running, a read
// that failed at once) waits this long, so that an idle reader costs no CPU.
constexpr unsigned long kIdleWaitMs = 15;
constexpr std::size_t kQueueLimit = 1024;

}  // namespace

LineAssembler& ReaderLineState() {
    return g_line;
}

// ---- UartThread -------------------------------------------------------------

UartThread::UartThread() {
    setObjectName("UartThread");
    // The reader frees itself when its body has returned.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    auto& list = all_readers();
    list.removeAll(QPointer<UartThread>());
    list.append(QPointer<UartThread>(this));
}

UartThread::~UartThread() {
    // Only a finished reader is deleted (deleteLater on finished, or StopAll).
    wait();
}

int UartThread::LiveCount() {
    return g_live.load();
}
int UartThread::ReadingCount() {
    return g_reading.load();
}
int UartThread::TakeMaxReadingCount() {
    return g_max_reading.exchange(g_reading.load());
}

bool UartThread::StopAll(int timeout_ms) {
    auto& list = all_readers();
    for (const auto& t : list) {
        if (t) t->requestInterruption();
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        bool running = false;
        for (const auto& t : list) {
            if (t && !t->isFinished() && t->isRunning()) running = true;
        }
        if (!running) break;
        if (clock.elapsed() > timeout_ms) return false;
        // A reader may be waiting for its terminal append on this thread.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

void UartThread::run() {
    g_live.fetch_add(1);
    // Wait until no earlier reader reads the port any more.
    std::unique_lock<std::timed_mutex> right(g_read_right, std::defer_lock);
    while (!right.try_lock_for(std::chrono::milliseconds(20))) {
        if (isInterruptionRequested()) {
            g_live.fetch_sub(1);
            return;
        }
    }
    const int now_reading = g_reading.fetch_add(1) + 1;
    int seen = g_max_reading.load();
    while (now_reading > seen && !g_max_reading.compare_exchange_weak(seen, now_reading)) {
    }
    // The byte reader is not reset here: bytes an earlier reader took from
    // the port but did not process are the next reader's.

    using Clock = std::chrono::steady_clock;
    while (!isInterruptionRequested()) {
        if (GetComPort_connected_Status() != 1 || download_running.load() != 0) {
            // Bytes buffered from a handle that may be closed or in other use.
            g_bytes.reset();
            msleep(kIdleWaitMs);
            continue;
        }
        const zorvik::serial::Handle handle = PortHandle.load();
        std::uint8_t byte = 0;
        const auto before = Clock::now();
        const int got = g_bytes.read_byte(handle, byte);
        // The driver queue is looked at once per buffer refill rather than per
        // byte: a system call per byte would cost several per cent of a core.
        if (g_bytes.buffered() == 0 && g_bytes.waiting(handle) > kQueueLimit)
            g_bytes.purge(handle, zorvik::serial::kPurgeAll);
        if (got != 1) {
            // A time-out takes 100 ms; a read that fails at once (a port that
            // went away) must not turn this loop into a busy wait.
            if (Clock::now() - before < std::chrono::milliseconds(5)) msleep(kIdleWaitMs);
            continue;
        }
        const LineAssembler::Result result = g_line.feed(byte);
        if (result == LineAssembler::Result::Overflow) break;
        if (result != LineAssembler::Result::Line) continue;

        if (TTerminal* term = Terminal) {
            const char* text = g_line.line();
            QMetaObject::invokeMethod(
                term, [term, text] { term->AppendLine(text); }, Qt::BlockingQueuedConnection);
        }
        ParseNMEA(g_line.line());
        g_line.release_line();
    }
    g_reading.fetch_sub(1);
    right.unlock();
    g_live.fetch_sub(1);
}
