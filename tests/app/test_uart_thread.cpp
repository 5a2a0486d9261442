// The reader thread over a real pseudo-terminal: what reaches the terminal,
// the 500-line terminal, an over-long line dropped, pausing for a download,
// and that no two readers ever read the port at once.
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "Main.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "shell_support.h"

using zorvik::apptest::PtyPeer;
using zorvik::apptest::Sentence;

namespace {
QStringList TerminalLines() {
    QStringList lines;
    const QTextDocument* doc = Terminal->Memo1->document();
    if (doc->isEmpty()) return lines;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) lines << b.text();
    return lines;
}
}  // namespace

class TestUartThread : public QObject {
    Q_OBJECT
    std::unique_ptr<PtyPeer> pty;

    void connectPty() {
        PortName = pty->port();
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() != 0);
        QVERIFY(!ReaderThread.isNull());
    }

  private slots:
    void initTestCase() { zorvik::apptest::EnsureApplicationWindows(); }
    void init() {
        zorvik::apptest::ResetProgramState();
        UartThread::TakeMaxReadingCount();
        pty = std::make_unique<PtyPeer>();
    }
    void cleanup() {
        zorvik::apptest::ResetProgramState();
        QVERIFY(UartThread::TakeMaxReadingCount() <= 1);
        pty.reset();
    }

    void sentencesReachTerminal() {
        connectPty();
        const std::string rmc =
            Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
        const std::string gga =
            Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
        pty->write("garbage before the first dollar\r\n\n" + rmc + "\n" + gga.substr(0, 20));
        QTest::qWait(50);
        pty->write(gga.substr(20));
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 2, 5000);
        const QStringList lines = TerminalLines();
        QCOMPARE(lines[0], QString::fromStdString(rmc.substr(0, rmc.size() - 2)));
        QCOMPARE(lines[1], QString::fromStdString(gga.substr(0, gga.size() - 2)));
        // The sentence also went to the parser: the record saw the RMC.
        ParseNMEAInfo info{};
        GetParseNMEAInfo(&info);
        QCOMPARE(info.rmc_status, 'A');
    }

    void terminalHolds500Lines() {
        connectPty();
        // In batches that stay well below the driver-queue limit.
        for (int first = 1; first <= 500; first += 20) {
            std::string batch;
            for (int i = first; i < first + 20; ++i)
                batch += Sentence("GPTXT," + std::to_string(i));
            pty->write(batch);
            QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), first + 19, 5000);
        }
        QVERIFY(TerminalLines().back().startsWith("$GPTXT,500*"));
        pty->write(Sentence("GPTXT,501"));
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 1, 5000);
        const QStringList lines = TerminalLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith("$GPTXT,501*"));
    }

    // An over-long line (noise, a wrong rate) is dropped and the reader goes
    // on: the next '$' starts a new line, and the tail is never shown.
    void overLongLineIsDropped() {
        connectPty();
        QPointer<UartThread> reader = ReaderThread;
        pty->write("$" + std::string(520, 'A') + "TAIL\r\n" + Sentence("GPGSA,after"));
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 1, 5000);
        QVERIFY(TerminalLines()[0].startsWith("$GPGSA,after*"));
        QVERIFY(reader && !reader->isFinished());
    }

    // While a download runs the reader leaves the port's input alone.
    void pausesWhileDownloadRuns() {
        connectPty();
        download_running.store(1);
        QTest::qWait(150);
        pty->write(Sentence("GPGGA,paused"));
        QTest::qWait(300);
        QCOMPARE(Terminal->LineCount(), 0);
        // The bytes are still waiting for whoever reads next.
        download_running.store(0);
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 1, 5000);
    }

    // Connect and disconnect in quick succession start readers before the
    // earlier ones have ended; still only one reads at any time, and every
    // sentence is shown once.
    void quickReconnectsKeepOneReader() {
        for (int i = 0; i < 15; ++i) {
            connectPty();
            MainForm->ToolButton1Click();
        }
        connectPty();
        QTRY_VERIFY_WITH_TIMEOUT(UartThread::LiveCount() == 1, 5000);
        for (int i = 0; i < 5; ++i) pty->write(Sentence("GPGSV,1,1," + std::to_string(i)));
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 5, 5000);
        if (Terminal->LineCount() != 5) qWarning() << TerminalLines();
        QTest::qWait(200);
        QCOMPARE(Terminal->LineCount(), 5);
        QCOMPARE(UartThread::TakeMaxReadingCount(), 1);
    }

    // A stop request is seen within a read time-out or an idle pass.
    void stopEndsIdleReader() {
        connectPty();
        COM_Close();  // the reader now idles
        QPointer<UartThread> reader = ReaderThread;
        MainForm->StopReader();
        QTRY_VERIFY_WITH_TIMEOUT(reader.isNull(), 5000);
        QCOMPARE(UartThread::LiveCount(), 0);
    }
};

QTEST_MAIN(TestUartThread)
#include "test_uart_thread.moc"
