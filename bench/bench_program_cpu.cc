// CPU share of the program (GUI thread, timers, reader, parser) while
// disconnected and while connected to the simulator streaming at 115200, and a
// no-loss check of what reached the terminal: every sentence whole (checksum
// right), one RMC per second, every GSV group complete.
//
//   program_cpu_harness [--seconds N]   each phase N seconds (default 20)
//   program_cpu_harness --minutes M     the long no-loss run (connected phase M minutes)
#include <sys/resource.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <cstdio>
#include <cstring>

#include "Main.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double MeasureShare(int seconds) {
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    return 100.0 * (CpuSeconds() - cpu0) / (static_cast<double>(wall.elapsed()) / 1000.0);
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

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 20;
    int connectedSeconds = 20;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = connectedSeconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--minutes")) connectedSeconds = 60 * std::atoi(argv[i + 1]);
    }

    CreateApplicationWindows();
    MainForm->show();
    QTest::qWait(500);
    const double idle = MeasureShare(seconds);
    std::printf("disconnected: %.2f %% of one core over %d s\n", idle, seconds);

    ReceiverSim sim({"--baud", "115200"});
    Tally tally;
    QObject::connect(Terminal->Memo1, &QPlainTextEdit::textChanged, [&tally] {
        const QTextDocument* doc = Terminal->Memo1->document();
        if (!doc->isEmpty()) tally.add(doc->lastBlock().text());
    });
    PortName = QString::fromStdString(sim.device());
    BaudRateText = "115200";
    MainForm->ToolButton1Click();
    if (GetComPort_connected_Status() == 0) {
        std::fprintf(stderr, "cannot open %s\n", sim.device().c_str());
        return 1;
    }
    QTest::qWait(1500);  // past the first, possibly partial, epoch
    const Tally before = tally;
    const double busy = MeasureShare(connectedSeconds);
    const long rmc = tally.rmc - before.rmc;
    std::printf("connected at 115200: %.2f %% of one core over %d s\n", busy, connectedSeconds);
    std::printf("sentences %ld, bad %ld, RMC %ld (expected about %d), GSV groups %ld, broken %ld\n",
                tally.lines - before.lines, tally.bad - before.bad, rmc, connectedSeconds,
                tally.gsvGroups - before.gsvGroups, tally.gsvBroken - before.gsvBroken);
    MainForm->ToolButton1Click();
    UartThread::StopAll();
    const bool lossless = tally.bad == before.bad && tally.gsvBroken == before.gsvBroken &&
                          rmc >= connectedSeconds - 1 && rmc <= connectedSeconds + 1;
    std::printf("no loss: %s\n", lossless ? "yes" : "NO");
    return lossless ? 0 : 1;
}
