// The main window: its controls, the connection state it governs, the
// restart and version commands, and the reopen after a baud-rate change.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "Main.h"
#include "MainWindow.h"
#include "SetBaudRate.h"
#include "SetupComPort.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "shell_support.h"

using zorvik::apptest::PtyPeer;

class TestMainForm : public QObject {
    Q_OBJECT
    std::unique_ptr<PtyPeer> pty;

    void connectPty(const char* baud = "9600") {
        PortName = pty->port();
        BaudRateText = baud;
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() != 0);
        pty->drain();
    }

    // The enabled state of every control the connection governs.
    static void checkConnectedControls(bool connected) {
        QCOMPARE(MainForm->COM1->isEnabled(), !connected);
        for (QAction* a : {MainForm->Cold_Start, MainForm->Warm_Start, MainForm->Hot_Start,
                           MainForm->SetNMEASentences1, MainForm->SetBaudRate1, MainForm->LoadFW}) {
            QVERIFY2(a->isEnabled() == connected, qPrintable(a->objectName()));
        }
        for (QToolButton* b :
             {MainForm->ToolButton13, MainForm->ToolButton10, MainForm->ToolButton28,
              MainForm->ToolButton3, MainForm->ToolButton4}) {
            QVERIFY2(b->isEnabled() == connected, qPrintable(b->objectName()));
        }
        QCOMPARE(MainMDIChild->SpeedButton2->isEnabled(), connected);
    }

  private slots:
    void initTestCase() { zorvik::apptest::EnsureApplicationWindows(); }
    void init() {
        zorvik::apptest::ResetProgramState();
        pty = std::make_unique<PtyPeer>();
    }
    void cleanup() {
        zorvik::apptest::ResetProgramState();
        pty.reset();
    }

    void windowsAtStart() {
        QCOMPARE(MainForm->windowTitle(), QString("DLL Zorvik V" ZORVIK_VERSION));
        QCOMPARE(MainForm->frameGeometry().size(), QSize(1032, 736));
        QCOMPARE(MainForm->minimumSize(), MainForm->maximumSize());
        QCOMPARE(MainForm->ToolBar2->height(), 33);
        QCOMPARE(MainForm->StatusPanel0->width(), 200);
        QCOMPARE(MainForm->StatusPanel1->width(), 50);
        QCOMPARE(MainForm->Timer1->interval(), 500);
        QCOMPARE(MainForm->Timer2->interval(), 1000);
        QVERIFY(!MainForm->Timer2->isActive());

        // Visible and hidden controls of the tool bar and the menus.
        QVERIFY(MainForm->ToolButton1->isVisible());
        QVERIFY(MainForm->ToolButton10->isVisible());
        for (QWidget* w :
             {static_cast<QWidget*>(MainForm->ToolButton13),
              static_cast<QWidget*>(MainForm->ToolButton28),
              static_cast<QWidget*>(MainForm->ToolButton3),
              static_cast<QWidget*>(MainForm->ToolButton4), static_cast<QWidget*>(MainForm->Label1),
              static_cast<QWidget*>(MainForm->MaskEdit1), static_cast<QWidget*>(MainForm->Send)}) {
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        }
        // Hidden menu items are not shown in their menus.
        QVERIFY(!MainForm->Setup1->actions().contains(MainForm->LoadFW));
        QVERIFY(!MainForm->Restart->actions().contains(MainForm->SetNMEASentences1));
        QCOMPARE(MainForm->Restart->actions(),
                 QList<QAction*>({MainForm->Cold_Start, MainForm->Warm_Start, MainForm->Hot_Start,
                                  MainForm->SetBaudRate1}));
        QCOMPARE(MainForm->COM1->text(), QString("&Setup COM Port"));
        QCOMPARE(MainForm->Help1->title(), QString("&Help"));
        QCOMPARE(MainForm->Help1->menuAction()->statusTip(), QString("Help topics"));

        // Hints in tool-bar order.
        QStringList hints;
        for (QToolButton* b :
             {MainForm->ToolButton1, MainForm->ToolButton13, MainForm->ToolButton10,
              MainForm->ToolButton28, MainForm->ToolButton3, MainForm->ToolButton4}) {
            hints << b->toolTip();
            QVERIFY(!b->icon().isNull());
        }
        QCOMPARE(hints, QStringList({"Connect", "Load 3 FWs", "Customer Version",
                                     "Single Channel Mode", "BE", "LTE"}));
        QCOMPARE(MainForm->findChild<QWidget*>("ToolButton5")->width(), 362);
        for (const char* gap : {"ToolButton2", "ToolButton20", "ToolButton26"}) {
            QCOMPARE(MainForm->findChild<QWidget*>(gap)->width(), 8);
        }
        for (int index : {24, 25, 27, 28, 33, 34}) {
            QVERIFY(!ImageList1Icon(index).pixmap(24, 24).isNull());
        }

        // The terminal: caption, place and memo.
        auto* sub = qobject_cast<QMdiSubWindow*>(Terminal->parentWidget());
        QVERIFY(sub);
        QCOMPARE(Terminal->windowTitle(), QString("Terminal"));
        QCOMPARE(sub->geometry(), QRect(700, 0, 320, 627));
        QCOMPARE(Terminal->Memo1->geometry(), QRect(0, 0, 705, 574));
        QVERIFY(Terminal->Memo1->isReadOnly());
        QCOMPARE(MainForm->MdiArea->subWindowList().size(), 2);

        checkConnectedControls(false);
    }

    // A hint under the mouse goes to status panel 0.
    void hintsShowInPanel0() {
        QStatusTipEvent tip("Customer Version");
        QCoreApplication::sendEvent(MainForm->ToolButton10, &tip);
        QCOMPARE(MainForm->StatusPanel0->text(), QString("Customer Version"));
    }

    // Closing a child window keeps it: the reader keeps writing to the terminal.
    void childWindowsSurviveClose() {
        auto* sub = qobject_cast<QMdiSubWindow*>(Terminal->parentWidget());
        QPointer<TTerminal> guard(Terminal);
        sub->close();
        QTest::qWait(20);
        QVERIFY(guard);
        sub->showNormal();
        sub->setGeometry(700, 0, 320, 627);
    }

    // The terminal follows the newest line after a minimise and restore;
    // only a user who scrolled back keeps his place.
    void terminalFollowsNewestLine_data() {
        QTest::addColumn<bool>("scrolledBack");
        QTest::newRow("minimised, lines arrive, restored") << false;
        QTest::newRow("scrolled back by the user") << true;
    }
    void terminalFollowsNewestLine() {
        QFETCH(bool, scrolledBack);
        auto* sub = qobject_cast<QMdiSubWindow*>(Terminal->parentWidget());
        QScrollBar* bar = Terminal->Memo1->verticalScrollBar();
        auto arrive = [](int n) {
            for (int i = 0; i < n; ++i) Terminal->AppendLine("$GPGGA,1");
            QCoreApplication::processEvents();
        };
        arrive(100);
        if (scrolledBack) {
            bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        } else {
            sub->showMinimized();
            arrive(60);
            sub->showNormal();
        }
        const int kept = bar->value();
        arrive(40);
        QCOMPARE(bar->value(), scrolledBack ? kept : bar->maximum());
        QVERIFY(bar->maximum() > 0);
    }

    // The failed open is reported; nothing else changes.
    void connectWithoutSetupChangesNothing() {
        zorvik::apptest::ModalWatcher watcher;
        MainForm->ToolButton1Click();
        QCOMPARE(watcher.messageBoxes(), 1);
        QCOMPARE(watcher.lastTitle(), QString("Error"));
        QCOMPARE(watcher.lastText(),
                 QString("Cannot open  port !\nNo port is chosen: choose one with Mode, Setup "
                         "COM Port."));
        QCOMPARE(GetComPort_connected_Status(), 0);
        QCOMPARE(MainForm->ToolButton1ImageIndex, 24);
        QCOMPARE(MainForm->ToolButton1->toolTip(), QString("Connect"));
        QVERIFY(ReaderThread.isNull());
        checkConnectedControls(false);
    }

    void connectDisconnectSequence() {
        Terminal->AppendLine("$old line");
        QList<int> images{MainForm->ToolButton1ImageIndex};
        QStringList hintsSeen{MainForm->ToolButton1->toolTip()};

        connectPty();
        images << MainForm->ToolButton1ImageIndex;
        hintsSeen << MainForm->ToolButton1->toolTip();
        QCOMPARE(Terminal->LineCount(), 0);  // emptied on connect
        QVERIFY(!ReaderThread.isNull());
        checkConnectedControls(true);

        Terminal->AppendLine("$kept");
        MainForm->ToolButton1Click();
        images << MainForm->ToolButton1ImageIndex;
        hintsSeen << MainForm->ToolButton1->toolTip();
        QCOMPARE(GetComPort_connected_Status(), 0);
        QCOMPARE(Terminal->LineCount(), 1);  // disconnect leaves the memo
        checkConnectedControls(false);

        QCOMPARE(images, QList<int>({24, 25, 24}));
        QCOMPARE(hintsSeen, QStringList({"Connect", "Connect", "Disconnect"}));
        // The reader stops by itself shortly after the request.
        QTRY_VERIFY_WITH_TIMEOUT(UartThread::LiveCount() == 0, 5000);
    }

    void disconnectForgetsSingleChannelSilently() {
        connectPty();
        SingleChannelActive = 1;
        VersionCaptionShown = CustomerCaptionShown = 1;
        CustomerVersionQueried = 1;
        MainForm->ToolButton1Click();
        QCOMPARE(SingleChannelActive, 0);
        QCOMPARE(VersionCaptionShown, 0);
        QCOMPARE(CustomerCaptionShown, 0);
        QCOMPARE(CustomerVersionQueried, 1);
        QCOMPARE(QString::fromStdString(pty->read_burst(300)), QString());
    }

    void versionQueryToggle() {
        connectPty();
        MainForm->ToolButton10Click();
        std::string sent = pty->read_burst();
        QVERIFY2(sent.rfind("$PKVX28,00*", 0) == 0, sent.c_str());
        QCOMPARE(CustomerVersionQueried, 1);
        QCOMPARE(CustomerCaptionShown, 0);

        MainForm->ToolButton10Click();
        sent = pty->read_burst();
        QVERIFY2(sent.rfind("$PKVX14,8*", 0) == 0, sent.c_str());
        QCOMPARE(CustomerVersionQueried, 0);

        // A restart between presses sets the toggle back to the customer query.
        MainForm->ToolButton10Click();
        pty->drain();
        QCOMPARE(CustomerVersionQueried, 1);
        MainForm->Hot_StartClick();
        sent = pty->read_burst();
        QVERIFY2(sent.rfind("$PKVX02,8*", 0) == 0, sent.c_str());
        QCOMPARE(CustomerVersionQueried, 0);
        QCOMPARE(VersionCaptionShown, 0);
        MainForm->ToolButton10Click();
        sent = pty->read_burst();
        QVERIFY2(sent.rfind("$PKVX28,00*", 0) == 0, sent.c_str());
    }

    void restartCommands_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("cold") << 0 << "$PKVX02,5C*";
        QTest::newRow("warm") << 1 << "$PKVX02,48*";
        QTest::newRow("hot") << 2 << "$PKVX02,8*";
    }
    void restartCommands() {
        QFETCH(int, which);
        QFETCH(QString, prefix);
        connectPty();
        VersionCaptionShown = 1;
        QAction* items[] = {MainForm->Cold_Start, MainForm->Warm_Start, MainForm->Hot_Start};
        items[which]->trigger();
        const std::string sent = pty->read_burst();
        QVERIFY2(sent.rfind(prefix.toStdString(), 0) == 0, sent.c_str());
        QCOMPARE(VersionCaptionShown, 0);
    }

    // Timer2 while the port is still open: it waits and tries again later.
    void reopenWaitsWhilePortOpen() {
        connectPty();
        QPointer<UartThread> before = ReaderThread;
        MainForm->Timer1->stop();
        MainForm->Timer2->start();
        MainForm->Timer2Timer();
        QVERIFY(MainForm->Timer2->isActive());
        QVERIFY(!MainForm->Timer1->isActive());
        QCOMPARE(ReaderThread.data(), before.data());
        QCOMPARE(pty->baud(), 9600L);
    }

    // The reopen at the rate of the baud-rate dialog, as the live view's tick
    // leaves it: port closed, Timer2 on, Timer1 off, the reader asked to stop.
    void reopenAtNewRate() {
        connectPty();
        BaudRateText = "115200";                       // as the dialog's OK stored it
        SetComboText(BaudRateForm->ComBox1, "12345");  // edited since: not what was commanded
        COM_Close();
        MainForm->Timer1->stop();
        MainForm->Timer2->start();
        MainForm->StopReader();

        MainForm->Timer2Timer();
        QCOMPARE(BaudRateText, QString("115200"));
        QCOMPARE(ComPortForm->ComboBox2->currentText(), QString("115200"));
        QVERIFY(GetComPort_connected_Status() != 0);
        QCOMPARE(pty->baud(), 115200L);
        QVERIFY(!MainForm->Timer2->isActive());
        QVERIFY(MainForm->Timer1->isActive());
        QVERIFY(!ReaderThread.isNull());
        // Connect's own changes stay as they were.
        QCOMPARE(MainForm->ToolButton1ImageIndex, 25);
        checkConnectedControls(true);

        // The new reader reads: a sentence reaches the terminal.
        pty->write(zorvik::apptest::Sentence("GPGGA,1"));
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 1, 5000);
        QVERIFY(UartThread::TakeMaxReadingCount() <= 1);
        SetComboText(BaudRateForm->ComBox1, "9600");
        SetComboText(ComPortForm->ComboBox2, "9600");
    }

    // A reopen that fails leaves an idle reader; the next connect retires it,
    // and the new reader is the only one reading.
    void failedReopenThenConnect() {
        connectPty();
        COM_Close();
        MainForm->StopReader();
        const QString good = PortName;
        PortName = "/nonexistent/port";
        MainForm->Timer1->stop();
        MainForm->Timer2->start();
        MainForm->Timer2Timer();
        QCOMPARE(GetComPort_connected_Status(), 0);
        QVERIFY(MainForm->Timer1->isActive());
        QVERIFY(!ReaderThread.isNull());
        QPointer<UartThread> idle = ReaderThread;

        PortName = good;
        MainForm->ToolButton1Click();  // takes the connect path: the port is closed
        QVERIFY(GetComPort_connected_Status() != 0);
        QVERIFY(ReaderThread.data() != idle.data());
        QTRY_VERIFY_WITH_TIMEOUT(idle.isNull() || idle->isFinished(), 5000);
        pty->write(zorvik::apptest::Sentence("GPRMC,2"));
        QTRY_COMPARE_WITH_TIMEOUT(Terminal->LineCount(), 1, 5000);
        QVERIFY(UartThread::TakeMaxReadingCount() <= 1);
    }

    // A line cut off when a link ends is no part of the next link's first
    // line, after a reconnect or a reopen at a new rate.
    void newLinkStartsWithEmptyLine_data() {
        QTest::addColumn<bool>("rateChange");
        QTest::newRow("disconnect and connect") << false;
        QTest::newRow("reopen at a new rate") << true;
    }
    void newLinkStartsWithEmptyLine() {
        QFETCH(bool, rateChange);
        connectPty();
        pty->write("$GPGGA,041028.000,4724.1812,N,008");
        QTest::qWait(300);  // the reader has taken the half line
        MainForm->ToolButton1Click();
        QTRY_VERIFY_WITH_TIMEOUT(UartThread::LiveCount() == 0, 5000);
        if (rateChange) {
            MainForm->Timer2Timer();
        } else {
            MainForm->ToolButton1Click();
        }
        const std::string whole = zorvik::apptest::Sentence("GPRMC,041029.000,A");
        pty->write("GSV,3,2,10,01,40,083,46*7A\r\n" + whole);
        QTRY_VERIFY_WITH_TIMEOUT(Terminal->LineCount() > 0, 5000);
        QCOMPARE(Terminal->Memo1->toPlainText().toStdString() + "\r\n", whole);
    }

    // Against the simulator: from 9600 the program asks for 115200, the
    // receiver acknowledges, the program closes, reopens at 115200 through
    // Timer2, and sentences keep arriving.
    void baudRateChangeEndToEnd() {
        ReceiverSim sim({"--baud", "9600"});
        PortName = QString::fromStdString(sim.device());
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() != 0);
        QTRY_VERIFY_WITH_TIMEOUT(Terminal->LineCount() >= 3, 10000);

        SetComboText(BaudRateForm->ComBox1, "115200");
        BaudRateForm->Button1Click();
        QCOMPARE(BaudRateText, QString("9600"));  // nothing claimed before the answer
        QTRY_VERIFY_WITH_TIMEOUT(sim.count_reports("\"rate\":115200") > 0, 10000);
        // Timer2Timer shows the new rate in the COM setup dialog when it reopens.
        QTRY_VERIFY_WITH_TIMEOUT(
            ComPortForm->ComboBox2->currentText() == "115200" && GetComPort_connected_Status() != 0,
            15000);
        QVERIFY(!MainForm->Timer2->isActive());
        QVERIFY(MainForm->Timer1->isActive());
        QCOMPARE(BaudRateText, QString("115200"));
        QCOMPARE(ComPortForm->ComboBox2->currentText(), QString("115200"));
        Terminal->Clear();
        QTRY_VERIFY_WITH_TIMEOUT(Terminal->LineCount() >= 4, 10000);
        QVERIFY(Terminal->Memo1->toPlainText().contains("$GPRMC,"));
        QVERIFY(UartThread::TakeMaxReadingCount() <= 1);
        SetComboText(BaudRateForm->ComBox1, "9600");
        SetComboText(ComPortForm->ComboBox2, "9600");
    }

    // Against a simulator that ignores every command: the program warns and
    // stays at 9600, where sentences keep arriving, also after a new connect.
    void baudRateChangeIgnored() {
        ReceiverSim sim({"--baud", "9600", "--fault", "deaf"});
        PortName = QString::fromStdString(sim.device());
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        zorvik::apptest::ModalWatcher watcher;
        SetComboText(BaudRateForm->ComBox1, "38400");
        BaudRateForm->Button1Click();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.lastTitle(), QString("Warning"), 10000);
        QCOMPARE(BaudRateText, QString("9600"));
        MainForm->ToolButton1Click();
        MainForm->ToolButton1Click();
        Terminal->Clear();
        QTRY_VERIFY_WITH_TIMEOUT(Terminal->Memo1->toPlainText().count("$GPRMC,") >= 2, 10000);
        QCOMPARE(watcher.messageBoxes(), 1);
        SetComboText(BaudRateForm->ComBox1, "9600");
    }

    // The restart commands and version queries reach the receiver, and its
    // answers come back through the reader into the live view's flags.
    void commandsReachReceiver() {
        ReceiverSim sim({"--time-scale", "0.05"});
        PortName = QString::fromStdString(sim.device());
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() != 0);

        MainForm->Cold_Start->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count_reports("$PKVX02,5C*") > 0, 5000);
        MainForm->Warm_Start->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count_reports("$PKVX02,48*") > 0, 5000);
        MainForm->Hot_Start->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count_reports("$PKVX02,8*") > 0, 5000);

        MainForm->ToolButton10Click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count_reports("$PKVX28,00*") > 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(CustomerCaptionShown, 1, 10000);
        MainForm->ToolButton10Click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.count_reports("$PKVX14,8*") > 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(VersionCaptionShown, 1, 10000);
        QVERIFY(Terminal->Memo1->toPlainText().contains("$PKVX100,"));
    }
};

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
