// The program on a line that misbehaves, against the receiver simulator on
// real pseudo-terminals: every rate of the baud list (streaming, a rate change
// and back, a firmware download), quick reconnects, line faults, a receiver
// that vanishes, and the reason a failed Connect gives.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "FWupdate.h"
#include "Main.h"
#include "MainWindow.h"
#include "SetBaudRate.h"
#include "SetupComPort.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"
#include "port_registry.h"
#include "receiver_sim.h"
#include "ser2net_server.h"
#include "shell_support.h"

using zorvik::apptest::ImagePattern;
using zorvik::apptest::ModalWatcher;
using zorvik::apptest::PtyPeer;

namespace {

const QStringList kRates = {"4800", "9600", "19200", "38400", "57600", "115200"};

// Sentences the terminal shows that are whole: "$", body, "*", two hex digits
// matching the body's checksum.
int WholeSentences(int* broken = nullptr) {
    int whole = 0, bad = 0;
    const QStringList lines = Terminal->Memo1->toPlainText().split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QByteArray s = line.toLatin1();
        const qsizetype star = s.lastIndexOf('*');
        bool ok = s.startsWith('$') && star > 0 && star + 3 == s.size();
        if (ok) {
            unsigned sum = 0;
            for (qsizetype i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
            ok = s.mid(star + 1).toUInt(nullptr, 16) == sum;
        }
        ok ? ++whole : ++bad;
    }
    if (broken) *broken = bad;
    return whole;
}

// True when fresh position sentences reach the terminal.
bool ReceivesSentences(int timeout_ms = 6000) {
    Terminal->Clear();
    return QTest::qWaitFor([] { return Terminal->Memo1->toPlainText().count("$GPRMC,") >= 2; },
                           timeout_ms);
}

// Changes the rate to each target in turn through the baud-rate dialog: the
// program follows the receiver and whole sentences arrive at every rate.
void FollowRateChanges(const QStringList& targets) {
    for (const QString& target : targets) {
        SetComboText(BaudRateForm->ComBox1, target);
        BaudRateForm->Button1Click();
        QTRY_VERIFY_WITH_TIMEOUT(BaudRateText == target && GetComPort_connected_Status() == 1 &&
                                     !MainForm->Timer2->isActive(),
                                 10000);
        QVERIFY2(ReceivesSentences(), qPrintable("at " + target));
        int broken = -1;
        QVERIFY(WholeSentences(&broken) >= 2);
        QCOMPARE(broken, 0);
    }
}

bool ShowsDisconnected() {
    const bool controls_off = MainForm->COM1->isEnabled() && !MainForm->SetBaudRate1->isEnabled() &&
                              !MainForm->Cold_Start->isEnabled() &&
                              !MainForm->ToolButton10->isEnabled() &&
                              !MainMDIChild->SpeedButton2->isEnabled();
    return MainForm->StatusPanel0->text().startsWith("Not Connected : ") &&
           MainForm->ToolButton1ImageIndex == 24 &&
           MainForm->ToolButton1->toolTip() == "Disconnect" && controls_off;
}

// The simulator registers its pseudo-terminal under a port name in the
// registry the library reads: a receiver that vanished then leaves a name
// that opens nothing, while its /dev/pts number may go to anyone's new pty.
std::unique_ptr<ReceiverSim> StartSim(const QString& rate, std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"--baud", rate.toStdString(), "--time-scale", "0.25",
                               "--registry-dir", zorvik::serial::registry_dir()});
    return std::make_unique<ReceiverSim>(extra);
}

void Connect(const ReceiverSim& sim, const QString& rate) {
    PortName = QString::fromStdString(sim.port_name());
    BaudRateText = rate;
    SetComboText(ComPortForm->ComboBox2, rate);
    MainForm->ToolButton1Click();
}

// Starts an FSA download (the smallest image) from the firmware dialog.
void StartFsaDownload(const QString& file) {
    TFWUpdateForm* f = FWUpdateForm;
    f->Edit4->setText("5000");
    f->RadioButton3->setChecked(true);
    f->Edit2->setText(file);
    f->Button2Click();
}

bool RunEnded(int timeout_ms) {
    return QTest::qWaitFor(
        [] { return download_running.load() == 0 && FWUpdateForm->Button2->isEnabled(); },
        timeout_ms);
}

// Programming sentences the simulator took whole before its boot loader began.
int ProgrammingSentencesBeforeErase(const ReceiverSim& sim) {
    int n = 0;
    for (const std::string& line : sim.report_lines()) {
        if (line.find("\"state\":\"erasing\"") != std::string::npos) break;
        if (line.find("$PKVX11,") != std::string::npos &&
            line.find("\"ok\":true") != std::string::npos)
            ++n;
    }
    return n;
}

}  // namespace

class TestFieldLink : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    // Answers every message box, so that an unexpected one fails a check
    // instead of blocking the run.
    std::unique_ptr<ModalWatcher> watcher_;

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QDir::setCurrent(dir_.path());
        // A private runtime directory holds the virtual-port registry.
        QVERIFY(QDir().mkdir("runtime"));
        QVERIFY(QFile::setPermissions(
            "runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QDir::current().absoluteFilePath("runtime").toLocal8Bit());
        zorvik::apptest::EnsureApplicationWindows();
    }
    void init() {
        zorvik::apptest::ResetProgramState();
        watcher_ = std::make_unique<ModalWatcher>();
    }
    void cleanup() {
        watcher_.reset();
        FWUpdateForm->hide();
        zorvik::apptest::ResetProgramState();
        SetComboText(BaudRateForm->ComBox1, "9600");
        SetComboText(ComPortForm->ComboBox2, "9600");
    }

    void rates_data() {
        QTest::addColumn<QString>("rate");
        for (const QString& r : kRates) QTest::newRow(qPrintable(r)) << r;
    }

    // Connect and stream at the rate; change to another rate and back, the
    // program following the receiver each time.
    void streamAndChangeRate_data() { rates_data(); }
    void streamAndChangeRate() {
        QFETCH(QString, rate);
        auto sim = StartSim(rate);
        Connect(*sim, rate);
        QVERIFY(ReceivesSentences());
        int broken = -1;
        QVERIFY(WholeSentences(&broken) >= 2);
        QCOMPARE(broken, 0);

        const QString other = rate == "115200" ? "4800" : kRates[kRates.indexOf(rate) + 1];
        FollowRateChanges({other, rate});
        if (QTest::currentTestFailed()) return;
        QVERIFY(UartThread::TakeMaxReadingCount() <= 1);
    }

    // A download started at the rate: the programming sentence arrives whole
    // twice at that rate, the image is the file, and the program is back at
    // the rate receiving sentences.
    void firmwareDownload_data() { rates_data(); }
    void firmwareDownload() {
        QFETCH(QString, rate);
        auto sim = StartSim(rate);
        Connect(*sim, rate);
        QVERIFY(ReceivesSentences());
        const QByteArray image = ImagePattern(8192);
        QFile file("fsa.bin");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
        file.close();

        StartFsaDownload(QDir::current().absoluteFilePath("fsa.bin"));
        QVERIFY(RunEnded(60000));
        QCOMPARE(FWUpdateForm->Label1->text(), QString("   File upload OK!(OK)"));
        QCOMPARE(ProgrammingSentencesBeforeErase(*sim), 2);
        QVERIFY(sim->wait_for_report("\"image\"", 5000));
        QFile received(QString::fromStdString(sim->image_path()));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), image);

        QCOMPARE(BaudRateText, rate);
        QVERIFY(ReceivesSentences(10000));
    }

    // Twenty quick disconnect/connect cycles at 38400: after each connect a
    // reader runs and sentences reach the terminal.
    void quickReconnects() {
        auto sim = StartSim("38400");
        Connect(*sim, "38400");
        for (int cycle = 0; cycle < 20; ++cycle) {
            MainForm->ToolButton1Click();
            MainForm->ToolButton1Click();
            QVERIFY(GetComPort_connected_Status() == 1);
            QVERIFY(!ReaderThread.isNull());
            QVERIFY2(QTest::qWaitFor([] { return WholeSentences() >= 1; }, 4000),
                     qPrintable(QString("cycle %1").arg(cycle)));
        }
        QCOMPARE(UartThread::TakeMaxReadingCount(), 1);
    }

    // Noise, an over-long line or a burst beyond the driver queue: the
    // terminal keeps receiving sentences afterwards.
    void lineFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("longline") << "longline";
        QTest::newRow("garbage") << "garbage";
        QTest::newRow("burst") << "burst";
    }
    void lineFaults() {
        QFETCH(QString, fault);
        auto sim = StartSim("9600", {"--fault", fault.toStdString()});
        Connect(*sim, "9600");
        QPointer<UartThread> reader = ReaderThread;
        // The simulator's faults come within its first five epochs.
        QTest::qWait(5500);
        if (fault == "burst") QVERIFY(sim->count_reports("\"burst\"") == 1);
        QVERIFY(ReceivesSentences());
        QVERIFY(reader && !reader->isFinished());
        QVERIFY(MainForm->StatusPanel0->text().startsWith("Connected : "));
    }

    // The simulator killed while streaming or while a download transfers: the
    // status reads "Not Connected" within a second, the program shows what a
    // disconnect shows, the reader ends, and a restarted receiver connects.
    void receiverVanishes_data() {
        QTest::addColumn<bool>("mid_transfer");
        QTest::newRow("mid-stream") << false;
        QTest::newRow("mid-transfer") << true;
    }
    void receiverVanishes() {
        QFETCH(bool, mid_transfer);
        auto sim = StartSim("9600", {"--fault", "vanish-after-blocks=3"});
        Connect(*sim, "9600");
        QVERIFY(ReceivesSentences());
        if (mid_transfer) {
            QFile file("fsa.bin");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ImagePattern(8192));
            file.close();
            StartFsaDownload(QDir::current().absoluteFilePath("fsa.bin"));
            // The simulator ends itself after the third block.
            QVERIFY(QTest::qWaitFor([&] { return !sim->running(); }, 30000));
        } else {
            sim->kill9();
        }
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QTest::qWaitFor(
            [] { return MainForm->StatusPanel0->text().startsWith("Not Connected : "); }, 3000));
        const qint64 noticed_ms = clock.elapsed();
        qInfo("vanished receiver noticed after %lld ms", noticed_ms);
        QVERIFY(noticed_ms <= 1000);
        if (mid_transfer) QVERIFY(RunEnded(5000));
        QTRY_VERIFY_WITH_TIMEOUT(ShowsDisconnected(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(UartThread::LiveCount(), 0, 10000);
        QCOMPARE(GetComPort_connected_Status(), 0);

        auto again = StartSim("9600");
        Connect(*again, "9600");
        QCOMPARE(GetComPort_connected_Status(), 1);
        QVERIFY(ReceivesSentences());
        QCOMPARE(MainForm->ToolButton1ImageIndex, 25);
    }

    // A failed Connect names the port and, where the system tells it, why.
    void failedConnectReason_data() {
        QTest::addColumn<QString>("why");
        QTest::addColumn<QString>("reason");
        QTest::newRow("absent") << "absent"
                                << "The device does not exist.";
        QTest::newRow("no permission")
            << "no permission"
            << "No permission to use the device: the user must be in the dialout group.";
        QTest::newRow("held") << "held"
                              << "The port is held by another program.";
        QTest::newRow("refused") << "refused"
                                 << "The host refused the connection: no device server listens "
                                    "on that port.";
    }
    void failedConnectReason() {
        QFETCH(QString, why);
        QFETCH(QString, reason);
        if (why == "no permission" && geteuid() == 0) {
            RunAsNobody("failedConnectReason:no permission");
            return;
        }
        PtyPeer pty;
        QString port = pty.port();
        QProcess holder;
        if (why == "absent") port = "/dev/zorvik-absent-port";
        if (why == "refused") port = "tcp://127.0.0.1:1";
        if (why == "no permission") QCOMPARE(::chmod(pty.slave_path().c_str(), 0), 0);
        if (why == "held") {
            holder.start("flock", {"--exclusive", port, "sh", "-c", "echo held; sleep 30"});
            if (!holder.waitForStarted(5000)) QSKIP("flock(1) is needed to hold the port");
            QVERIFY(holder.waitForReadyRead(5000));
        }
        PortName = port;
        BaudRateText = "9600";
        const int image_before = MainForm->ToolButton1ImageIndex;
        MainForm->ToolButton1Click();
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(watcher_->messageBoxes(), 1);
        QCOMPARE(watcher_->lastTitle(), QString("Error"));
        QCOMPARE(watcher_->lastText(), "Cannot open " + port + " port !\n" + reason);
        QCOMPARE(GetComPort_connected_Status(), 0);
        // Nothing else of the connect happens.
        QCOMPARE(MainForm->ToolButton1ImageIndex, image_before);
        QVERIFY(ReaderThread.isNull());
    }

    // Through ser2net in front of the simulator: over rfc2217:// the program
    // follows the receiver to a new rate; on the raw tcp:// port the baud-rate
    // dialog refuses with a Warning and the link stays at the old rate.
    void throughDeviceServer() {
        if (!Ser2netServer::Available()) QSKIP("ser2net is not installed");
        auto sim = StartSim("9600");
        Ser2netServer server(sim->device());
        const auto connect_to = [](const std::string& url) {
            PortName = QString::fromStdString(url);
            BaudRateText = "9600";
            SetComboText(ComPortForm->ComboBox2, "9600");
            MainForm->ToolButton1Click();
        };
        connect_to(server.ComPortUrl());
        QVERIFY(ReceivesSentences());
        FollowRateChanges({"115200", "9600"});
        if (QTest::currentTestFailed()) return;
        QCOMPARE(watcher_->messageBoxes(), 0);
        zorvik::apptest::ResetProgramState();

        connect_to(server.RawUrl());
        QVERIFY(ReceivesSentences());
        SetComboText(BaudRateForm->ComBox1, "115200");
        BaudRateForm->Button1Click();
        QCOMPARE(watcher_->messageBoxes(), 1);
        QCOMPARE(watcher_->lastTitle(), QString("Warning"));
        QVERIFY2(watcher_->lastText().contains("raw TCP port"), qPrintable(watcher_->lastText()));
        QCOMPARE(BaudRateText, QString("9600"));
        QVERIFY(ReceivesSentences());
        int broken = -1;
        QVERIFY(WholeSentences(&broken) >= 2);
        QCOMPARE(broken, 0);
        // A download needs 115200: refused before the programming sentence.
        QFile image("fsa.bin");
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(ImagePattern(8192)) == 8192);
        image.close();
        StartFsaDownload("fsa.bin");
        QCOMPARE(watcher_->messageBoxes(), 2);
        QCOMPARE(watcher_->lastTitle(), QString("Warning"));
        QCOMPARE(download_running.load(), 0);
        QVERIFY(FWUpdateForm->Button2->isEnabled());
        QCOMPARE(ProgrammingSentencesBeforeErase(*sim), 0);
        // The server goes away: the program lets go of the port as of a pulled receiver.
        server.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(ShowsDisconnected() && GetComPort_connected_Status() == 0, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(watcher_->messageBoxes(), 3, 2000);
        QCOMPARE(watcher_->lastTitle(), QString("Error"));
        QVERIFY2(watcher_->lastText().contains("connection to the device server ended"),
                 qPrintable(watcher_->lastText()));
    }

  private:
    // Root opens any device, so the permission case runs in a copy of this
    // test as the unprivileged user.
    void RunAsNobody(const QString& test) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) QSKIP("no user 'nobody' to run the permission case as");
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.setWorkingDirectory(QDir::tempPath());
        child.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(99);
        });
        child.start(QCoreApplication::applicationFilePath(), {test});
        if (!child.waitForStarted(10000)) QSKIP("this test cannot be started as the user 'nobody'");
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAll();
        if (child.exitCode() == 99) QSKIP("cannot switch to the user 'nobody'");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 out.constData());
        QVERIFY2(out.contains("PASS   : TestFieldLink::failedConnectReason(no permission)"),
                 out.constData());
    }
};

QTEST_MAIN(TestFieldLink)
#include "test_field_link.moc"
