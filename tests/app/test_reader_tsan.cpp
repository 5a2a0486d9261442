// A long connected run meant for the ThreadSanitizer build: the simulator
// streams at 115200 for 30 s while the GUI thread sends commands, copies the
// state record on every tick and the reader parses; the terminal keeps
// receiving whole epochs throughout, and the run ends cleanly.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "Main.h"
#include "SetNMEASentences.h"
#include "SetupComPort.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "shell_support.h"

class TestReaderTsan : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { zorvik::apptest::EnsureApplicationWindows(); }
    void cleanupTestCase() { zorvik::apptest::ResetProgramState(); }

    void streamingWhileCommanding() {
        zorvik::apptest::ResetProgramState();
        ReceiverSim sim({"--baud", "115200", "--time-scale", "0.05"});
        PortName = QString::fromStdString(sim.device());
        BaudRateText = "115200";
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() != 0);

        QElapsedTimer clock;
        clock.start();
        int rmcSeen = 0;
        int step = 0;
        QString lastRmc;
        while (clock.elapsed() < 30000) {
            switch (step++ % 5) {
                case 0:
                    MainForm->ToolButton10Click();
                    break;
                case 1:
                    MainForm->Hot_StartClick();
                    break;
                case 2:
                    MainForm->MaskEdit1->setText("$PKVX14,8*");
                    MainForm->SendClick();
                    break;
                case 3:
                    SetNMEA_S->Button1Click();
                    break;  // RMC on
                default:
                    GetParseNMEAInfo(&StateCopy);
                    break;
            }
            QTest::qWait(250);
            // Count distinct RMC sentences as they scroll through the terminal.
            const QTextDocument* doc = Terminal->Memo1->document();
            for (QTextBlock b = doc->lastBlock(); b.isValid(); b = b.previous()) {
                if (b.text().startsWith("$GPRMC,")) {
                    if (b.text() != lastRmc) {
                        lastRmc = b.text();
                        ++rmcSeen;
                    }
                    break;
                }
            }
        }
        QVERIFY2(rmcSeen >= 20, qPrintable(QString::number(rmcSeen)));
        QVERIFY(UartThread::TakeMaxReadingCount() <= 1);
        QVERIFY(sim.count_reports("$PKVX02,8*") >= 5);

        MainForm->ToolButton1Click();  // disconnect
        QTRY_COMPARE_WITH_TIMEOUT(UartThread::LiveCount(), 0, 5000);
    }
};

QTEST_MAIN(TestReaderTsan)
#include "test_reader_tsan.moc"
