// CPU share of the program (GUI thread, timers, reader, parser) and of its
// reader thread alone, on the real windows and reader against the receiver
// simulator, in three phases:
//   disconnected  no port open (the 500 ms tick alone)
//   streaming     connected to the simulator sending one epoch a second, with a
//                 no-loss check of what reached the terminal: every sentence
//                 whole (checksum right), one RMC per second, every GSV group
//                 complete
//   silent        connected to a simulator that sends nothing (--fault silent)
//   busy-directory  disconnected, started in a directory of 3,000 files in which
//                 another process creates and deletes 100 files a second
//                 (bench/busy_directory.py), as in a download folder or /tmp
// Memory: VmRSS when streaming has settled, half-way and at the end of the
// streaming phase, and the peak (VmHWM).
//
//   program_cpu_harness [--seconds N]       each phase N seconds (default 20)
//                       [--minutes M]       the streaming phase M minutes (long no-loss run)
//                       [--baud N]          rate of the simulator and the program (default 115200)
//                       [--phases LIST]     comma list of the phases above
//                                           (default disconnected,streaming)
//                       [--json FILE]       the figures as one JSON object
// Exits 1 when a phase could not run or the streaming phase lost data.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Main.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"

namespace {

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The threads of this process whose name is `name` (the reader names its
// thread after its object name, "UartThread").
std::vector<pid_t> ThreadsNamed(const QString& name) {
    std::vector<pid_t> out;
    const QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toLatin1())
            out.push_back(static_cast<pid_t>(tid.toInt()));
    }
    return out;
}

// CPU time of another thread of this process, in seconds, with nanosecond
// resolution: Linux encodes a thread's CPU clock as (~tid << 3) | 6 (the
// per-thread scheduler clock), the id pthread_getcpuclockid also returns.
// Negative once the thread has ended.
double ThreadCpuSeconds(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) return -1;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// One kB figure from /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

struct Share {
    double process = 0;        // per cent of one core
    double reader = -1;        // per cent of one core, -1 without a reader thread
    long rss_half_kb = -1;     // VmRSS half-way through the window
    long rss_end_kb = -1;      // VmRSS at its end
    long rss_max_kb = -1;      // the largest VmRSS sampled (once a second)
    std::vector<long> rss_kb;  // every sample
};

// Serves the GUI thread's events for `seconds` and returns the CPU used
// meanwhile as a share of the wall time, with the resident size sampled once
// a second (a read of /proc/self/status, well below the figures measured).
Share MeasureShare(int seconds) {
    std::vector<std::pair<pid_t, double>> readers;
    for (pid_t tid : ThreadsNamed("UartThread")) readers.push_back({tid, ThreadCpuSeconds(tid)});
    const double cpu0 = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Share s;
    for (int second = 1; second <= seconds; ++second) {
        const qint64 due = static_cast<qint64>(second) * 1000 - wall.elapsed();
        if (due > 0) QTest::qWait(static_cast<int>(due));
        const long rss = StatusKb("VmRSS");
        s.rss_max_kb = std::max(s.rss_max_kb, rss);
        s.rss_kb.push_back(rss);
        if (second == (seconds + 1) / 2) s.rss_half_kb = rss;
        if (second == seconds) s.rss_end_kb = rss;
    }
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    s.process = 100.0 * (ProcessCpuSeconds() - cpu0) / elapsed;
    double reader_cpu = 0;
    bool any = false;
    for (const auto& [tid, start] : readers) {
        const double end = ThreadCpuSeconds(tid);
        if (start < 0 || end < 0) continue;
        reader_cpu += end - start;
        any = true;
    }
    if (any) s.reader = 100.0 * reader_cpu / elapsed;
    return s;
}

bool ChecksumOk(const QString& line) {
    const QByteArray b = line.toLatin1();
    const int star = b.lastIndexOf('*');
    if (b.size() < 4 || b[0] != '$' || star < 0 || star + 3 != b.size()) return false;
    unsigned sum = 0;
    for (int i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(b[i]);
    return b.mid(star + 1).toUInt(nullptr, 16) == sum;
}

struct Tally {
    long lines = 0, bad = 0, rmc = 0, gsvGroups = 0, gsvBroken = 0;
    int gsvExpect = 0, gsvTotal = 0;
    void add(const QString& line) {
        ++lines;
        if (!ChecksumOk(line)) {
            ++bad;
            return;
        }
        if (line.startsWith("$GPRMC,")) ++rmc;
        if (line.startsWith("$GPGSV,")) {
            const QStringList f = line.split(',');
            const int total = f.value(1).toInt(), number = f.value(2).toInt();
            if (number == 1) {
                if (gsvExpect != 0) ++gsvBroken;
                gsvTotal = total;
                gsvExpect = 2;
            } else if (number != gsvExpect) {
                ++gsvBroken;
                gsvExpect = 0;
                return;
            } else {
                ++gsvExpect;
            }
            if (number == gsvTotal) {
                ++gsvGroups;
                gsvExpect = 0;
            }
        }
    }
};

// Connects the program to a simulator started with `sim_args` at `baud`, as
// the user does (PortName, BaudRateText, Connect). Null when it cannot.
std::unique_ptr<ReceiverSim> Connect(std::vector<std::string> sim_args, const QString& baud) {
    sim_args.insert(sim_args.end(), {"--baud", baud.toStdString()});
    std::unique_ptr<ReceiverSim> sim;
    try {
        sim = std::make_unique<ReceiverSim>(sim_args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return nullptr;
    }
    PortName = QString::fromStdString(sim->device());
    BaudRateText = baud;
    MainForm->ToolButton1Click();
    if (GetComPort_connected_Status() == 0) {
        std::fprintf(stderr, "cannot open %s at %s\n", sim->device().c_str(), qPrintable(baud));
        return nullptr;
    }
    return sim;
}

void Disconnect() {
    if (GetComPort_connected_Status() == 1) MainForm->ToolButton1Click();
    UartThread::StopAll();
}

// The disconnected program in its busy working directory; -1 when the
// directory could not be made busy.
double BusyDirectoryShare(const QString& dir, int seconds) {
    QProcess churn;
    churn.start("python3", {ZORVIK_BUSY_DIRECTORY_SCRIPT, dir});
    if (!churn.waitForReadyRead(60000) || !churn.readLine().startsWith("ready")) {
        std::fprintf(stderr, "busy_directory.py did not start\n");
        return -1;
    }
    QTest::qWait(1000);
    const Share s = MeasureShare(seconds);
    churn.kill();
    churn.waitForFinished();
    return s.process;
}

QJsonObject ShareJson(const Share& s, int seconds) {
    QJsonObject o{{"process_pct", s.process}, {"seconds", seconds}};
    if (s.reader >= 0) o["reader_pct"] = s.reader;
    return o;
}

QString ReaderText(const Share& s) {
    return s.reader >= 0 ? QString(" (reader thread %1 %)").arg(s.reader, 0, 'f', 3) : QString();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 20;
    int streamingSeconds = 20;
    QString baud = "115200";
    QStringList phases = {"disconnected", "streaming"};
    QString jsonPath;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--seconds") && has_value) {
            seconds = streamingSeconds = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--minutes") && has_value) {
            streamingSeconds = 60 * std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--baud") && has_value) {
            baud = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--phases") && has_value) {
            phases = QString::fromLocal8Bit(argv[++i]).split(',', Qt::SkipEmptyParts);
        } else if (!std::strcmp(argv[i], "--json") && has_value) {
            jsonPath = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::fprintf(stderr, "program_cpu_harness: unknown or incomplete option %s\n", argv[i]);
            return 2;
        }
    }
    for (const QString& p : phases) {
        if (p != "disconnected" && p != "streaming" && p != "silent" && p != "busy-directory") {
            std::fprintf(stderr, "program_cpu_harness: unknown phase %s\n", qPrintable(p));
            return 2;
        }
    }

    // The program's working directory is where it was started; the busy
    // directory must be it from the start.
    QTemporaryDir busyDir;
    if (phases.contains("busy-directory") && !QDir::setCurrent(busyDir.path())) {
        std::fprintf(stderr, "program_cpu_harness: cannot enter %s\n", qPrintable(busyDir.path()));
        return 1;
    }
    CreateApplicationWindows();
    MainForm->show();
    QTest::qWait(500);

    QJsonObject result{{"baud", baud.toInt()}};
    bool ok = true;
    Tally tally;
    QObject::connect(Terminal->Memo1, &QPlainTextEdit::textChanged, [&tally] {
        const QTextDocument* doc = Terminal->Memo1->document();
        if (!doc->isEmpty()) tally.add(doc->lastBlock().text());
    });

    for (const QString& phase : phases) {
        if (phase == "disconnected") {
            const Share s = MeasureShare(seconds);
            std::printf("disconnected: %.2f %% of one core over %d s\n", s.process, seconds);
            result["disconnected"] = ShareJson(s, seconds);
        } else if (phase == "streaming") {
            const auto sim = Connect({}, baud);
            if (!sim) {
                ok = false;
                continue;
            }
            QTest::qWait(1500);  // past the first, possibly partial, epoch
            const long rssSettled = StatusKb("VmRSS");
            const Tally before = tally;
            const Share s = MeasureShare(streamingSeconds);
            const long rmc = tally.rmc - before.rmc;
            const long bad = tally.bad - before.bad, broken = tally.gsvBroken - before.gsvBroken;
            const bool lossless = bad == 0 && broken == 0 && rmc >= streamingSeconds - 1 &&
                                  rmc <= streamingSeconds + 1;
            std::printf("connected at %s: %.2f %% of one core over %d s%s\n", qPrintable(baud),
                        s.process, streamingSeconds, qPrintable(ReaderText(s)));
            std::printf(
                "sentences %ld, bad %ld, RMC %ld (expected about %d), GSV groups %ld, broken %ld\n",
                tally.lines - before.lines, bad, rmc, streamingSeconds,
                tally.gsvGroups - before.gsvGroups, broken);
            std::printf("no loss: %s\n", lossless ? "yes" : "NO");
            std::printf(
                "VmRSS %ld kB settled, %ld kB half-way, %ld kB after %d s, at most %ld kB\n",
                rssSettled, s.rss_half_kb, s.rss_end_kb, streamingSeconds, s.rss_max_kb);
            QJsonObject o = ShareJson(s, streamingSeconds);
            o["sentences"] = static_cast<double>(tally.lines - before.lines);
            o["bad"] = static_cast<double>(bad);
            o["rmc"] = static_cast<double>(rmc);
            o["gsv_groups"] = static_cast<double>(tally.gsvGroups - before.gsvGroups);
            o["gsv_broken"] = static_cast<double>(broken);
            o["lossless"] = lossless;
            o["rss_settled_kb"] = static_cast<double>(rssSettled);
            o["rss_half_kb"] = static_cast<double>(s.rss_half_kb);
            o["rss_end_kb"] = static_cast<double>(s.rss_end_kb);
            o["rss_max_kb"] = static_cast<double>(s.rss_max_kb);
            QJsonArray samples;
            for (long kb : s.rss_kb) samples.append(static_cast<double>(kb));
            o["rss_kb_per_second"] = samples;
            result["streaming"] = o;
            ok = ok && lossless;
            Disconnect();
        } else if (phase == "busy-directory") {
            const double share = BusyDirectoryShare(busyDir.path(), seconds);
            if (share < 0) {
                ok = false;
                continue;
            }
            std::printf("disconnected, busy directory: %.2f %% of one core over %d s\n", share,
                        seconds);
            result["busy_directory"] = QJsonObject{{"process_pct", share}, {"seconds", seconds}};
        } else {
            const auto sim = Connect({"--fault", "silent"}, baud);
            if (!sim) {
                ok = false;
                continue;
            }
            QTest::qWait(1000);
            const Tally before = tally;
            const Share s = MeasureShare(seconds);
            std::printf("connected, silent receiver: %.2f %% of one core over %d s%s\n", s.process,
                        seconds, qPrintable(ReaderText(s)));
            QJsonObject o = ShareJson(s, seconds);
            o["sentences"] = static_cast<double>(tally.lines - before.lines);
            result["silent"] = o;
            Disconnect();
        }
    }

    // VmHWM follows the resident counters with a small lag; the peak is at
    // least every resident size sampled.
    long hwm = StatusKb("VmHWM");
    for (const char* phase : {"streaming"}) {
        const QJsonObject o = result[phase].toObject();
        hwm = std::max(hwm, static_cast<long>(o["rss_max_kb"].toDouble(-1)));
    }
    std::printf("VmHWM %ld kB\n", hwm);
    result["vmhwm_kb"] = static_cast<double>(hwm);
    if (!jsonPath.isEmpty()) {
        QFile out(jsonPath);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(QJsonDocument(result).toJson()) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(jsonPath));
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
