#include "Unit11.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "LineAssembler.h"
#include "Main.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "serial_port.h"

#ifdef _WIN32
#include <windows.h>
#endif

// ---- Module-wide reader state ----------------------------------------------

namespace {

enum class OpenFailure { Absent, NoPermission, Held, Unknown };

#ifdef _WIN32
void ClearSystemError() {
    SetLastError(0);
}
int LastSystemError() {
    return static_cast<int>(GetLastError());
}
OpenFailure ClassifyOpenError(int error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return OpenFailure::Absent;
        // A COM port that another program holds refuses every further open.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return OpenFailure::Held;
        default:
            return OpenFailure::Unknown;
    }
}
#else
void ClearSystemError() {
    errno = 0;
}
int LastSystemError() {
    return errno;
}
OpenFailure ClassifyOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:  // a ttyS name without a UART behind it
            return OpenFailure::Absent;
        case EACCES:
        case EPERM:
            return OpenFailure::NoPermission;
        case EBUSY:        // another program's exclusive open
        case EWOULDBLOCK:  // another program's lock
            return OpenFailure::Held;
        default:
            return OpenFailure::Unknown;
    }
}
#endif

// The line state and the byte reader are used only by the reader that holds
// g_read_right, so successive readers never touch them at the same time.
LineAssembler g_line;
zorvik::serial::ByteReader g_bytes;
std::mutex g_read_right;

// Held by the reader around each status check and read, and by the program
// around each open and close of the port, so that a read never meets a handle
// that is being closed (on POSIX the next open reuses the number at once).
// A waiting open or close makes the reader step aside before its next read.
std::mutex g_port_use;
std::atomic<int> g_port_waiters{0};

std::atomic<int> g_live{0};
std::atomic<int> g_reading{0};
std::atomic<int> g_max_reading{0};

// Every reader created, for StopAll (GUI thread only).
QList<QPointer<UartThread>>& all_readers() {
    static QList<QPointer<UartThread>> list;
    return list;
}

// Hands a completed line to the GUI thread for the terminal append and waits
// until it has been shown. Only the reader holding g_read_right uses it. The
// line buffer belongs to the GUI thread from the request until the append has
// run; the mutex makes that hand-over visible to every checker (the toolkit's
// own cross-thread call synchronises in code ThreadSanitizer cannot see), and
// the queued signal carries no data, so nothing crosses outside the mutex.
class TerminalHandoff : public QObject {
    Q_OBJECT
  public:
    TerminalHandoff() {
        connect(this, &TerminalHandoff::Requested, this, &TerminalHandoff::RunOnGuiThread,
                Qt::QueuedConnection);
    }

    void Show(TTerminal* term, const char* text) {
        std::unique_lock lock(mutex_);
        term_ = term;
        text_ = text;
        shown_ = false;
        emit Requested();
        done_.wait(lock, [this] { return shown_; });
    }

  signals:
    void Requested();

  private slots:
    void RunOnGuiThread() {
        std::lock_guard lock(mutex_);
        if (term_) term_->AppendLine(text_);
        shown_ = true;
        done_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    TTerminal* term_ = nullptr;
    const char* text_ = nullptr;
    bool shown_ = false;
};

// Made by the first reader's constructor, on the GUI thread, which it serves.
TerminalHandoff& handoff() {
    static TerminalHandoff instance;
    return instance;
}

// A pass that neither reads nor blocks (port closed, download running, a read
// that failed at once) waits this long, so that an idle reader costs no CPU.
constexpr unsigned long kIdleWaitMs = 15;

}  // namespace

namespace {
class PortUseGuard {
  public:
    PortUseGuard() {
        g_port_waiters.fetch_add(1);
        g_port_use.lock();
    }
    ~PortUseGuard() {
        g_port_use.unlock();
        g_port_waiters.fetch_sub(1);
    }
};
}  // namespace

int OpenPortBetweenReads(const QString& port_name, const QString& baud_text, int* open_error) {
    const QByteArray port = port_name.toLocal8Bit();
    const QByteArray baud = baud_text.toLatin1();
    PortUseGuard guard;
    // The library reports a failed open by its result alone; the system's
    // code of the failed open is still this thread's last error then.
    ClearSystemError();
    const int handle = COM_Open(port.constData(), baud.constData());
    if (open_error) *open_error = handle == 0 ? LastSystemError() : 0;
    return handle;
}

QString PortOpenFailureReason(int open_error) {
    switch (ClassifyOpenError(open_error)) {
        case OpenFailure::Absent:
            return "The device does not exist.";
        case OpenFailure::NoPermission:
            return "No permission to use the device: the user must be in the dialout group.";
        case OpenFailure::Held:
            return "The port is held by another program.";
        case OpenFailure::Unknown:
            break;
    }
    return {};
}

void ClosePortBetweenReads() {
    PortUseGuard guard;
    COM_Close();
}

// ---- UartThread -------------------------------------------------------------

UartThread::UartThread() {
    setObjectName("UartThread");
    handoff();
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
    std::unique_lock<std::mutex> right(g_read_right, std::defer_lock);
    while (!right.try_lock()) {
        if (isInterruptionRequested()) {
            g_live.fetch_sub(1);
            return;
        }
        msleep(20);
    }
    const int now_reading = g_reading.fetch_add(1) + 1;
    int seen = g_max_reading.load();
    while (now_reading > seen && !g_max_reading.compare_exchange_weak(seen, now_reading)) {
    }
    // The byte reader is not reset here: bytes an earlier reader took from
    // the port but did not process are the next reader's.

    using Clock = std::chrono::steady_clock;
    while (!isInterruptionRequested()) {
        if (g_port_waiters.load() > 0) {
            msleep(1);
            continue;
        }
        std::unique_lock use(g_port_use);
        if (GetComPort_connected_Status() != 1 || download_running.load() != 0) {
            use.unlock();
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
        if (g_bytes.buffered() == 0 && g_bytes.waiting(handle) > zorvik::serial::kDriverQueueLimit)
            g_bytes.purge(handle, zorvik::serial::kPurgeAll);
        use.unlock();
        if (got != 1) {
            // A time-out takes 100 ms; a read that fails at once (a port that
            // went away) must not turn this loop into a busy wait.
            if (Clock::now() - before < std::chrono::milliseconds(5)) msleep(kIdleWaitMs);
            continue;
        }
        // An over-long line is dropped inside feed(); the reader goes on.
        if (g_line.feed(byte) != LineAssembler::Result::Line) continue;

        if (TTerminal* term = Terminal) handoff().Show(term, g_line.line());
        ParseNMEA(g_line.line());
        g_line.release_line();
    }
    g_reading.fetch_sub(1);
    right.unlock();
    g_live.fetch_sub(1);
}

#include "Unit11.moc"
