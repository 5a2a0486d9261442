#include "Unit11.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "BaudChange.h"
#include "EpochCollector.h"
#include "LineReader.h"
#include "Main.h"
#include "Unit12.h"
#include "ZorvikDll.h"

// ---- Module-wide reader state ----------------------------------------------

namespace {

// The line state and the byte reader are used only by the reader that holds
// g_read_right, so successive readers never touch them at the same time. The
// program keeps up with the receiver: a backlog beyond the driver-queue limit
// is stale and dropped.
zorvik::link::LineReader g_reader(zorvik::link::LineReader::Backlog::Drop);
std::mutex g_read_right;

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

std::string Local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

zorvik::link::OpenResult Opened(const zorvik::link::OpenResult& result) {
    PortHandle.store(result.handle);
    // Whatever was heard belongs to the link before.
    ReceivedEpochs().Reset();
    return result;
}

}  // namespace

zorvik::link::EpochCollector& ReceivedEpochs() {
    // Never destroyed: a reader may still be leaving when the program ends.
    static auto* epochs = new zorvik::link::EpochCollector;
    return *epochs;
}

// ---- Opening and closing the port ---------------------------------------------

zorvik::link::OpenResult OpenPortBetweenReads(const QString& port_name, const QString& baud_text) {
    return Opened(zorvik::link::OpenPort(Local(port_name), Local(baud_text)));
}

void ClosePortBetweenReads() {
    zorvik::link::ClosePort();
    ReceivedEpochs().Reset();
}

zorvik::link::OpenResult ReopenPortBetweenReads(const QString& port_name,
                                                const QString& baud_text) {
    return Opened(zorvik::link::ReopenPort(Local(port_name), Local(baud_text)));
}

zorvik::link::OpenResult OpenAtNewRateBetweenReads(const QString& port_name,
                                                   const QString& baud_text) {
    return Opened(zorvik::link::OpenAtNewRate(Local(port_name), Local(baud_text)));
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
    // Every reader starts on a link just opened: a line cut off when the
    // earlier link ended must not run into this link's first line.
    g_reader.Reset();
    zorvik::link::ReadLoop loop;
    loop.stop = [this] { return isInterruptionRequested(); };
    loop.paused = [] { return download_running.load() != 0; };
    loop.handle = [] { return static_cast<zorvik::serial::Handle>(PortHandle.load()); };
    // Every line is shown; only an intact one is parsed.
    loop.on_line = [](const zorvik::link::Line& line) {
        if (TTerminal* term = Terminal) handoff().Show(term, line.text);
        ReceivedEpochs().Take(line);
        return zorvik::link::Next::Continue;
    };
    loop.on_event = [](zorvik::link::Event event) {
        if (event == zorvik::link::Event::Quiet) ReceivedEpochs().LineQuiet();
        return zorvik::link::Next::Continue;
    };
    zorvik::link::RunReadLoop(g_reader, loop);

    g_reading.fetch_sub(1);
    right.unlock();
    g_live.fetch_sub(1);
}

#include "Unit11.moc"
