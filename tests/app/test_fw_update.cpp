// The firmware download dialog against the receiver simulator's boot loader:
// size rules, a whole run, a receiver without NAK, one that vanishes, and Close.
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "FWThread.h"
#include "FWupdate.h"
#include "Main.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "shell_support.h"

using zorvik::apptest::ImagePattern;
using zorvik::apptest::ReceivingSentences;

namespace {

// Waits for a report line while the GUI keeps running.
bool WaitReport(const ReceiverSim& sim, const std::string& substring, int timeout_ms) {
    return QTest::qWaitFor([&] { return sim.count_reports(substring) > 0; }, timeout_ms);
}

// Answers the application's message boxes as they appear, recording each one.
class MessageBoxAnswerer : public QObject {
  public:
    struct Seen {
        QString caption, text;
    };
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : answer_(answer) {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(20);
    }
    void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
    const QList<Seen>& seen() const { return seen_; }

  private:
    void Poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible() || box->objectName() != "ZorvikMessageBox") continue;
            if (handled_.contains(box)) continue;
            handled_.append(box);
            seen_.append({box->windowTitle(), box->text()});
            if (QAbstractButton* b = box->button(answer_)) b->click();
        }
        handled_.removeAll(nullptr);
    }
    QTimer timer_;
    QMessageBox::StandardButton answer_;
    QList<Seen> seen_;
    QList<QPointer<QMessageBox>> handled_;
};

QString WriteFile(const QString& name, const QByteArray& data) {
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(data);
    return QDir::current().absoluteFilePath(name);
}

}  // namespace

class TestFWUpdate : public QObject {
    Q_OBJECT

  private:
    TFWUpdateForm* form() { return FWUpdateForm; }
    QTemporaryDir dir_;
    std::unique_ptr<ReceiverSim> sim_;
    QStringList statuses_;
    // Answers every message box (OK unless a test says otherwise) so that an
    // unexpected one fails the test instead of blocking it.
    std::unique_ptr<MessageBoxAnswerer> boxes_;

    void StartSim(std::vector<std::string> args = {}) {
        args.push_back("--time-scale");
        args.push_back("0.25");
        sim_ = std::make_unique<ReceiverSim>(args);
        PortName = QString::fromStdString(sim_->device());
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() == 1);
        QVERIFY(ReceivingSentences());
    }

    // Chooses a kind and its file, presses Start and records the status lines.
    void Start(QRadioButton* radio, QLineEdit* edit, const QString& file) {
        radio->setChecked(true);
        edit->setText(file);
        statuses_.clear();
        form()->Button2Click();
        if (FWUpdateThread* w = form()->Worker())
            connect(w, &FWUpdateThread::StatusText, this,
                    [this](const QString& s) { statuses_.append(s); });
    }

    bool WaitRunEnd(int timeout_ms) {
        return QTest::qWaitFor(
            [this] { return download_running.load() == 0 && form()->Button2->isEnabled(); },
            timeout_ms);
    }

    bool WaitStatus(const QString& text, int timeout_ms) {
        return QTest::qWaitFor([&] { return form()->Label1->text() == text; }, timeout_ms);
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QDir::setCurrent(dir_.path());
        CreateApplicationWindows();
        // The live view's tick would clear the sentence flags these tests watch.
        MainForm->Timer1->stop();
        QVERIFY(form());
    }

    void init() {
        boxes_ = std::make_unique<MessageBoxAnswerer>();
        form()->show();
        form()->Edit4->setText("5000");
        form()->Label1->clear();
    }

    void cleanup() {
        if (form()->Worker()) {
            form()->Worker()->Cancel();
            form()->Worker()->wait();
        }
        QCoreApplication::sendPostedEvents();
        download_running.store(0);
        form()->hide();
        if (GetComPort_connected_Status()) MainForm->ToolButton1Click();
        QTest::qWait(200);
        sim_.reset();
        boxes_.reset();
    }

    // Start's file check: refused files give the kind's message and leave the
    // dialog idle; accepted ones start a run, which here fails at the open
    // because no port is chosen.
    void sizeRules_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("message");  // empty: accepted
        const QString fw = "Firmware size is not correct!(NG)";
        QTest::newRow("fw lowest") << 0 << qint64(481280) << QString();
        QTest::newRow("fw highest") << 0 << qint64(491520) << QString();
        QTest::newRow("fw one short") << 0 << qint64(481279) << fw;
        QTest::newRow("fw one over") << 0 << qint64(491521) << fw;
        QTest::newRow("kernel short")
            << 1 << qint64(16383) << QString("Flash Kernel size is not correct!(NG)");
        QTest::newRow("kernel exact") << 1 << qint64(16384) << QString();
        QTest::newRow("fsa exact") << 2 << qint64(8192) << QString();
        QTest::newRow("fsa over") << 2 << qint64(8193) << QString("FSA size is not correct!(NG)");
        QTest::newRow("all exact") << 3 << qint64(524288) << QString();
        QTest::newRow("all short")
            << 3 << qint64(524287) << QString("All-Image size is not correct!(NG)");
        QTest::newRow("empty name") << 2 << qint64(-1) << QString("File is not selected!(NG)");
        QTest::newRow("missing file") << 0 << qint64(-2) << QString("File is not selected!(NG)");
        QTest::newRow("directory") << 0 << qint64(-3) << QString("File is not selected!(NG)");
        QTest::newRow("fifo") << 2 << qint64(-4) << QString("File is not selected!(NG)");
    }

    void sizeRules() {
        QFETCH(int, kind);
        QFETCH(qint64, size);
        QFETCH(QString, message);
        auto* f = form();
        QRadioButton* radios[] = {f->RadioButton1, f->RadioButton2, f->RadioButton3,
                                  f->RadioButton4};
        QLineEdit* edits[] = {f->Edit3, f->Edit1, f->Edit2, f->Edit5};
        QString file;
        if (size >= 0) file = WriteFile(QString("kind%1.bin").arg(kind), ImagePattern(size));
        if (size == -2) file = QDir::current().absoluteFilePath("no-such-file.bin");
        if (size == -3) file = QDir::currentPath();
        if (size == -4) {
            file = QDir::current().absoluteFilePath("fifo.bin");
            QFile::remove(file);
            QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        }
        PortName.clear();
        BaudRateText = "9600";

        auto& answerer = *boxes_;
        Start(radios[kind], edits[kind], file);
        QCOMPARE(f->ComboBox2->currentIndex(), kind);
        if (!message.isEmpty()) {
            QCOMPARE(answerer.seen().size(), 1);
            QCOMPARE(answerer.seen()[0].caption, QString("Warning"));
            QCOMPARE(answerer.seen()[0].text, message);
            QCOMPARE(download_running.load(), 0);
            QVERIFY(f->Button1->isEnabled());
            QVERIFY(f->Button2->isEnabled());
            QVERIFY(!f->Worker());
        } else {
            QVERIFY(answerer.seen().isEmpty());
            QCOMPARE(download_running.load(), 1);
            QVERIFY(!f->Button1->isEnabled() && !f->Button2->isEnabled());
            QVERIFY(f->Edit4->isReadOnly());
            QVERIFY(WaitRunEnd(5000));
            QCOMPARE(f->Label1->text(), QString(fwstatus::kCannotOpen));
            QVERIFY(!f->Edit4->isReadOnly());
        }
    }

    void waitingTimeParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");  // -1: refused
        QTest::newRow("default") << "5000" << 5000;
        QTest::newRow("blanks") << " 250 " << 250;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("too large") << "2147483648" << -1;
        QTest::newRow("unit") << "5s" << -1;
        QTest::newRow("negative") << "-5" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("hex") << "0x10" << -1;
    }
    void waitingTimeParsing() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        int ms = -1;
        const bool ok = ParseWaitingTime(text, ms);
        QCOMPARE(ok, expected >= 0);
        if (ok) QCOMPARE(ms, expected);
    }

    // A waiting time that is no number: nothing is sent, the port is back at
    // the NMEA rate and the dialog is usable.
    void badWaitingTimeRestoresDialog() {
        StartSim();
        auto* f = form();
        f->Edit4->setText("5 s");
        Start(f->RadioButton3, f->Edit2, WriteFile("fsa.bin", ImagePattern(8192)));
        QVERIFY(WaitRunEnd(8000));
        QCOMPARE(f->Label1->text(), QString(fwstatus::kBadWaitingTime));
        QVERIFY(!f->Edit4->isReadOnly());
        QCOMPARE(BaudRateText, QString("9600"));
        QCOMPARE(GetComPort_connected_Status(), 1);
        QCOMPARE(sim_->count_reports("PKVX11,1,0,6"), 0);
        QVERIFY(ReceivingSentences());
    }

    void wholeFirmwareRun() {
        StartSim();
        auto* f = form();
        // Not a multiple of 1024, so the last block is padded.
        const QByteArray image = ImagePattern(481280 + 700);
        const QString file = WriteFile("firmware.bin", image);
        Start(f->RadioButton1, f->Edit3, file);
        QVERIFY(f->Worker());
        QVERIFY(WaitRunEnd(180000));

        QCOMPARE(f->Label1->text(), QString("   File upload OK!(OK)"));
        QCOMPARE(f->Label2->text(), QString("100%"));
        QCOMPARE(f->ProgressBar1->value(), 100);
        QCOMPARE(statuses_,
                 QStringList({"Starting...", "Flash is being erased...",
                              "File is being transferred...", "   File upload OK!(OK)"}));
        QCOMPARE(BaudRateText, QString("9600"));
        QVERIFY(!f->Timer1->isActive());

        // The programming sentence went out twice, both received before the
        // boot loader saw the port at 115200 and began to erase.
        int prog_before_erase = 0;
        bool erasing = false;
        for (const std::string& line : sim_->report_lines()) {
            if (line.find("\"state\":\"erasing\"") != std::string::npos) erasing = true;
            if (!erasing && line.find("PKVX11,1,0,6,2,0*") != std::string::npos &&
                line.find("\"ok\":true") != std::string::npos)
                ++prog_before_erase;
        }
        QVERIFY(erasing);
        QCOMPARE(prog_before_erase, 2);

        QVERIFY(WaitReport(*sim_, "\"image\"", 5000));
        QFile received(QString::fromStdString(sim_->image_path()));
        QVERIFY(received.open(QIODevice::ReadOnly));
        const QByteArray got = received.readAll();
        QVERIFY(got.size() >= image.size());
        QCOMPARE(got.left(image.size()), image);
        QCOMPARE(got.mid(image.size()), QByteArray(got.size() - image.size(), '\x1A'));

        // Back at the NMEA rate, the reader delivering sentences again.
        QVERIFY(ReceivingSentences(10000));
    }

    void receiverWithoutNak() {
        StartSim({"--fault", "no-nak"});
        auto* f = form();
        f->Edit4->setText("1500");
        Start(f->RadioButton3, f->Edit2, WriteFile("fsa.bin", ImagePattern(8192)));
        QVERIFY(WaitStatus("Flash is being erased...", 5000));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(WaitRunEnd(15000));
        QCOMPARE(f->Label1->text(), QString("Waiting NAK Timeout..."));
        QVERIFY(clock.elapsed() >= 1200);
        QCOMPARE(BaudRateText, QString("115200"));
        QCOMPARE(sim_->count_reports("\"block\""), 0);
        QVERIFY(!f->Edit4->isReadOnly());
    }

    void receiverVanishesMidTransfer() {
        StartSim({"--fault", "vanish-after-blocks=5"});
        auto* f = form();
        Start(f->RadioButton2, f->Edit1, WriteFile("kernel.bin", ImagePattern(16384)));
        QVERIFY(WaitRunEnd(60000));
        QVERIFY(statuses_.contains("File is being transferred..."));
        bool reported = false;
        for (const QString& s : statuses_)
            if (s.startsWith("File upload failed") && s.endsWith("(NG)")) reported = true;
        QVERIFY2(reported, qPrintable(statuses_.join(" | ")));
        QVERIFY(!statuses_.contains("   File upload OK!(OK)"));
        // The port is gone, so the reopen at the NMEA rate fails last.
        QCOMPARE(f->Label1->text(), QString(fwstatus::kCannotOpen));
        QVERIFY(f->Label2->text() != "100%");
        QVERIFY(f->Button1->isEnabled() && f->Button2->isEnabled());
    }

    void closeIdleClosesDialog() {
        auto& answerer = *boxes_;
        form()->Button1Click();
        QVERIFY(!form()->isVisible());
        QVERIFY(answerer.seen().isEmpty());
    }

    void closeAnsweredCancelChangesNothing() {
        StartSim({"--fault", "no-nak"});
        auto* f = form();
        f->Edit4->setText("3000");
        Start(f->RadioButton3, f->Edit2, WriteFile("fsa.bin", ImagePattern(8192)));
        QVERIFY(WaitStatus("Flash is being erased...", 5000));
        auto& answerer = *boxes_;
        answerer.SetAnswer(QMessageBox::Cancel);
        f->Button1Click();
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen()[0].caption, QString("Warning"));
        QCOMPARE(answerer.seen()[0].text, QString("Flash would be damaged! Are you sure?"));
        QVERIFY(f->isVisible());
        QCOMPARE(download_running.load(), 1);
        QVERIFY(f->Worker() && !f->Worker()->Cancelled());
        // The run goes on to its own end.
        QVERIFY(WaitRunEnd(15000));
        QCOMPARE(f->Label1->text(), QString("Waiting NAK Timeout..."));
    }

    // Close confirmed mid-run: the worker has left the port before Close
    // reopens it, the port is at the NMEA rate and the dialog is closed.
    void closeConfirmedMidRun_data() {
        QTest::addColumn<bool>("during_transfer");
        QTest::newRow("waiting for NAK") << false;
        QTest::newRow("during the transfer") << true;
    }
    void closeConfirmedMidRun() {
        QFETCH(bool, during_transfer);
        auto* f = form();
        if (during_transfer) {
            StartSim();
            Start(f->RadioButton4, f->Edit5, WriteFile("all.bin", ImagePattern(524288)));
            QVERIFY(QTest::qWaitFor([] { return download_running.load() == 1; }, 1000));
            // Close is pressed as soon as the transfer begins; whether the
            // transfer or the reopen after it is running then, Close must wait.
            QVERIFY(WaitStatus("File is being transferred...", 20000));
        } else {
            StartSim({"--fault", "no-nak"});
            f->Edit4->setText("60000");
            Start(f->RadioButton3, f->Edit2, WriteFile("fsa.bin", ImagePattern(8192)));
            QVERIFY(WaitStatus("Flash is being erased...", 5000));
        }
        QPointer<FWUpdateThread> worker = f->Worker();
        QVERIFY(worker);
        // The worker's end reaches a busy GUI thread in two passes of its
        // event loop: its own deleteLater first, the rest a little later.
        connect(
            worker, &QThread::finished, worker, [] { QThread::msleep(100); }, Qt::DirectConnection);
        auto& answerer = *boxes_;
        QElapsedTimer clock;
        clock.start();
        // Closed by its close box from the dialog's own modal loop, as the
        // user does: the worker's end is then delivered inside that loop.
        f->hide();
        QTimer::singleShot(50, f, [f] { f->close(); });
        f->exec();
        QCOMPARE(answerer.seen().size(), 1);
        QVERIFY(!worker || worker->isFinished());
        QVERIFY(!f->isVisible());
        QCOMPARE(download_running.load(), 0);
        QCOMPARE(BaudRateText, QString("9600"));
        QCOMPARE(GetComPort_connected_Status(), 1);
        QVERIFY(!f->Timer1->isActive());
        QVERIFY(f->Button1->isEnabled() && f->Button2->isEnabled());
        if (!during_transfer) QVERIFY(clock.elapsed() < 5000);  // the NAK wait stops at once

        // Nothing of the run reaches the port afterwards.
        const int blocks = sim_->count_reports("\"block\"");
        QTest::qWait(1500);
        QCOMPARE(sim_->count_reports("\"block\""), blocks);
        if (during_transfer) QVERIFY(ReceivingSentences(10000));
    }

    void browseKeepsHeldNameOnCancel() {
        auto* f = form();
        const QString file = WriteFile("picked.bin", ImagePattern(16));
        int round = 0;
        QTimer picker;
        connect(&picker, &QTimer::timeout, this, [&] {
            QFileDialog* dialog = f->OpenDialog2->Dialog();
            if (!dialog || !dialog->isVisible()) return;
            // The dialog needs a moment to take the selection in before OK.
            if (round == 0) {
                if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText(file);
            } else if (round < 6) {
                // wait
            } else if (round == 6) {
                static_cast<QDialog*>(dialog)->accept();
            } else {
                static_cast<QDialog*>(dialog)->reject();
            }
            ++round;
        });
        picker.start(50);
        f->Button4Click();
        QCOMPARE(QFileInfo(f->Edit2->text()).canonicalFilePath(),
                 QFileInfo(file).canonicalFilePath());
        f->Edit2->setText("typed.bin");
        f->Button4Click();
        QCOMPARE(round, 8);
        QCOMPARE(QFileInfo(f->Edit2->text()).canonicalFilePath(),
                 QFileInfo(file).canonicalFilePath());
        // Closed again, the file dialogs cost nothing: no folder model watches.
        QVERIFY(f->findChildren<QFileSystemModel*>().isEmpty());
    }
};

QTEST_MAIN(TestFWUpdate)
#include "test_fw_update.moc"
