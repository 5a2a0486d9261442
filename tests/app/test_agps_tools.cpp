// The BE and LTE tools: download from the local A-GPS test server (or a
// failing one) and upload into the receiver simulator in VBI mode.
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "AgpsDownload.h"
#include "BE.h"
#include "LTE.h"
#include "Main.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"
#include "shell_support.h"

namespace {

// Waits for a report line while the GUI keeps running.
bool WaitReport(const ReceiverSim& sim, const std::string& substring, int timeout_ms) {
    return QTest::qWaitFor([&] { return sim.count_reports(substring) > 0; }, timeout_ms);
}

const char* const kSwitchBack = "81ff0b000200d0ff2102";

// The A-GPS test server as a child process.
class AgpsServer {
  public:
    explicit AgpsServer(const QString& mode) {
        process_.setProgram(ZORVIK_SYSTEM_PYTHON);
        process_.setArguments({ZORVIK_AGPS_SERVER, "--port", "0", "--mode", mode});
        process_.start();
        QString line;
        if (process_.waitForStarted(5000)) {
            (void)QTest::qWaitFor(
                [&] {
                    if (process_.canReadLine()) line = QString::fromUtf8(process_.readLine());
                    return line.startsWith("listening ") || process_.state() != QProcess::Running;
                },
                10000);
        }
        line = line.trimmed();
        if (line.startsWith("listening ")) address_ = "http://" + line.mid(10);
    }
    ~AgpsServer() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    const QString& address() const { return address_; }

  private:
    QProcess process_;
    QString address_;
};

// Writes a file made for the current time, as the server would serve it.
bool WriteEphemerisFile(AgpsKind kind, const QString& path) {
    QProcess p;
    p.start(ZORVIK_SYSTEM_PYTHON,
            {ZORVIK_AGPS_SERVER, kind == AgpsKind::BE ? "--write-be" : "--write-lte", path});
    return p.waitForFinished(10000) && p.exitCode() == 0 && QFile::exists(path);
}

// A one-answer HTTP server on the GUI thread for answers the test server does
// not give (oversized, error status). It serves while the download waits.
class FixedHttpServer : public QObject {
  public:
    FixedHttpServer(int status, const QByteArray& body, bool with_length) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [=, this] {
            QTcpSocket* s = server_.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [=] {
                if (!s->readAll().contains("\r\n\r\n")) return;
                QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " X\r\n";
                if (with_length)
                    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
                head += "Connection: close\r\n\r\n";
                s->write(head + body);
                s->disconnectFromHost();
            });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        });
    }
    QString address() const { return QString("http://127.0.0.1:%1").arg(server_.serverPort()); }

  private:
    QTcpServer server_;
};

QString UnreachableAddress() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QString("http://127.0.0.1:%1").arg(port);
}

// A file of the kind's largest size with the layout the upload reads: the
// first line, a time valid now (a record header for LTE), one frame and
// padding. The files' scale runs 11 s ahead of the computer's Unix time.
QByteArray FileAtLimit(AgpsKind kind) {
    const qint64 limit = kind == AgpsKind::BE ? kBEFileLimit : kLTEFileLimit;
    const QByteArray now =
        QByteArray::number(QDateTime::currentSecsSinceEpoch() + 11 - 600).rightJustified(10, '0');
    QByteArray d = kind == AgpsKind::BE
                       ? "BE\n" + now + "\n"
                       : "LTE\n" + now + ",LE,VBI,120," + QByteArray::number(limit - 4 - 28);
    d += QByteArray("\x81\xff\x02\x00\x00\x00\x00\x00", 8);
    d.resize(limit, '\0');
    return d;
}

const QByteArray kHtmlAnswer = "<html><body>Service unavailable</body></html>\n";

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The frames of a file as the upload walks them, in hex.
QStringList FramesFrom(const QByteArray& d, qsizetype from, qsizetype end) {
    QStringList frames;
    qsizetype q = from;
    while (q + 5 < end) {
        if (static_cast<uchar>(d[q]) == 0x81 && static_cast<uchar>(d[q + 1]) == 0xFF) {
            const int len = static_cast<uchar>(d[q + 4]) | (static_cast<uchar>(d[q + 5]) << 8);
            frames.append(QString::fromLatin1(d.mid(q, 8 + len).toHex()));
            q += 8 + len;
        } else {
            ++q;
        }
    }
    return frames;
}

qsizetype FirstLineEnd(const QByteArray& d) {
    const qsizetype i = d.indexOf('\n');
    return i >= 0 && i < 18 ? i : 18;
}

// A decimal number at the start of text: blanks, an optional sign, digits.
qint64 LeadingNumber(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

QStringList ValidFrames(AgpsKind kind, const QByteArray& d) {
    const qsizetype i = FirstLineEnd(d);
    if (kind == AgpsKind::BE) return FramesFrom(d, i, d.size());
    // Long-term file: the frames of the record whose four hours hold the current time.
    const qint64 now = QDateTime::currentSecsSinceEpoch() + 11;
    qsizetype r = i + 1;
    while (r + 27 <= d.size()) {
        const qint64 t = LeadingNumber(d.mid(r, 12));
        const qint64 count = LeadingNumber(d.mid(r + 22, 8));
        const qsizetype end = r + (count > 999 ? 28 : 27) + count;
        if (t <= now && now <= t + 14400) return FramesFrom(d, r, qMin<qsizetype>(end, d.size()));
        r = end;
    }
    return {};
}

}  // namespace

class TestAgpsTools : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    std::unique_ptr<ReceiverSim> sim_;

    void StartSim(const std::vector<std::string>& faults = {}) {
        std::vector<std::string> args{"--time-scale", "0.25"};
        args.insert(args.end(), faults.begin(), faults.end());
        sim_ = std::make_unique<ReceiverSim>(args);
        PortName = QString::fromStdString(sim_->device());
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QCOMPARE(GetComPort_connected_Status(), 1);
        // The upload takes the receiver's time from its RMC sentences.
        QVERIFY(zorvik::apptest::ReceivingSentences());
    }

    QStringList RecordedFrames() const {
        QStringList frames;
        for (const std::string& line : sim_->report_lines()) {
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (o.value("event").toString() == "frame")
                frames.append(o.value("hex").toString().toLower());
        }
        frames.removeAll(kSwitchBack);
        return frames;
    }

    // Presses the tool button; in the dialog, notes the message line, presses
    // Start, notes the message again and closes.
    struct Shown {
        QString at_open, after_start;
    };
    template <class Dialog>
    Shown RunTool(Dialog* dialog) {
        Shown shown;
        QTimer driver;
        connect(&driver, &QTimer::timeout, this, [&] {
            if (!dialog->isVisible()) return;
            driver.stop();
            shown.at_open = dialog->Label1->text();
            dialog->Button1->click();
            shown.after_start = dialog->Label1->text();
            dialog->done(0);
        });
        driver.start(20);
        dialog->RunFromToolButton();
        return shown;
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QDir::setCurrent(dir_.path());
        CreateApplicationWindows();
        MainForm->Timer1->stop();
        QCOMPARE(UpdateBEToGPS->windowTitle(), QString("Update BE To GPS"));
        QCOMPARE(UpdateLTEToGPS->windowTitle(), QString("UpdateLTEToGPS"));
    }

    void cleanup() {
        if (GetComPort_connected_Status()) MainForm->ToolButton1Click();
        QTest::qWait(200);
        sim_.reset();
        QFile::remove("BE.bin");
        QFile::remove("LTE.bin");
        SetAgpsHostForTesting({});
        SetAgpsTimeoutForTesting(0);
    }

    // With the server answering: the frames the receiver took in VBI mode
    // are the valid frames of the downloaded file.
    void uploadFromServer_data() {
        QTest::addColumn<bool>("lte");
        QTest::newRow("BE") << false;
        QTest::newRow("LTE") << true;
    }
    void uploadFromServer() {
        QFETCH(bool, lte);
        AgpsServer server("normal");
        QVERIFY(!server.address().isEmpty());
        SetAgpsHostForTesting(server.address());
        StartSim();

        const AgpsKind kind = lte ? AgpsKind::LTE : AgpsKind::BE;
        const Shown shown = lte ? RunTool(UpdateLTEToGPS) : RunTool(UpdateBEToGPS);
        const QByteArray file = ReadAll(AgpsLocalFileName(kind));
        QVERIFY(file.size() >= (lte ? 1024 : 2048));
        QCOMPARE(shown.after_start, QString(lte ? "LTE File update OK!" : "BE file update OK!"));

        if (!WaitReport(*sim_, "\"vbi\",\"state\":\"off\"", 5000)) {
            for (const std::string& line : sim_->report_lines())
                if (line.find("\"frame\"") == std::string::npos) qWarning("%s", line.c_str());
            qWarning("recorded %d frames of %d", int(RecordedFrames().size()),
                     int(ValidFrames(kind, file).size()));
            QFAIL("the receiver was not switched back to NMEA input");
        }
        const QStringList expected = ValidFrames(kind, file);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(RecordedFrames(), expected);
        QCOMPARE(sim_->count_reports("\"vbi\",\"state\":\"on\""), 1);
        QCOMPARE(sim_->count_reports("\"vbi\",\"state\":\"off\""), 1);
        QCOMPARE((lte ? UpdateLTEToGPS->Label1 : UpdateBEToGPS->Label1)->text(), QString("  "));
    }

    // A receiver that takes nothing from the line: the frames fit into the
    // port's buffer, and only its silence after the switch back shows that
    // nothing arrived.
    void uploadToDeafReceiverFails() {
        AgpsServer server("normal");
        SetAgpsHostForTesting(server.address());
        StartSim({"--fault", "deaf"});
        const Shown shown = RunTool(UpdateBEToGPS);
        QCOMPARE(shown.after_start, QString(" BE file update failed!(NG)"));
    }

    // No file and no server: the dialog still opens, says so, and switches
    // the receiver back exactly once per Start; the next opening starts blank.
    void noFileAndServerUnreachable_data() { uploadFromServer_data(); }
    void noFileAndServerUnreachable() {
        QFETCH(bool, lte);
        SetAgpsHostForTesting(UnreachableAddress());
        StartSim();
        for (int round = 1; round <= 2; ++round) {
            const Shown shown = lte ? RunTool(UpdateLTEToGPS) : RunTool(UpdateBEToGPS);
            QCOMPARE(shown.after_start,
                     QString(lte ? " No LTE file existing!" : " No BE file existing!"));
            if (round == 2) QCOMPARE(shown.at_open, QString("  "));
            QVERIFY(QTest::qWaitFor(
                [&] { return sim_->count_reports("\"vbi\",\"state\":\"off\"") == round; }, 5000));
            QCOMPARE(sim_->count_reports("\"vbi\",\"state\":\"on\""), round);
        }
        QTest::qWait(500);
        QCOMPARE(sim_->count_reports("\"vbi\",\"state\":\"off\""), 2);
        QVERIFY(!QFile::exists(AgpsLocalFileName(lte ? AgpsKind::LTE : AgpsKind::BE)));
    }

    // A FIFO in the file's place is refused at once as no file, and the
    // receiver is still switched back.
    void fifoInPlaceOfFile_data() { uploadFromServer_data(); }
    void fifoInPlaceOfFile() {
        QFETCH(bool, lte);
        const QString name = AgpsLocalFileName(lte ? AgpsKind::LTE : AgpsKind::BE);
        QCOMPARE(mkfifo(QFile::encodeName(name).constData(), 0600), 0);
        SetAgpsHostForTesting(UnreachableAddress());
        StartSim();
        const Shown shown = lte ? RunTool(UpdateLTEToGPS) : RunTool(UpdateBEToGPS);
        QCOMPARE(shown.after_start,
                 QString(lte ? " No LTE file existing!" : " No BE file existing!"));
        QVERIFY(WaitReport(*sim_, "\"vbi\",\"state\":\"off\"", 5000));
    }

    // A download that does not complete leaves the older file byte for byte;
    // one that stays within the limit replaces it.
    void failedDownloadKeepsOlderFile_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("lte");
        QTest::addColumn<int>("expected");
        const int ok = int(AgpsResult::Ok);
        QTest::newRow("unreachable") << "unreachable" << false << int(AgpsResult::NetworkError);
        QTest::newRow("broken answer") << "broken" << false << int(AgpsResult::NetworkError);
        QTest::newRow("server hangs") << "hang" << true << int(AgpsResult::TimedOut);
        QTest::newRow("not found") << "404" << false << int(AgpsResult::NetworkError);
        QTest::newRow("empty answer") << "empty" << false << int(AgpsResult::Empty);
        QTest::newRow("BE over limit") << "big-len" << false << int(AgpsResult::TooLarge);
        QTest::newRow("BE over limit, no length") << "big" << false << int(AgpsResult::TooLarge);
        QTest::newRow("LTE over limit") << "big" << true << int(AgpsResult::TooLarge);
        QTest::newRow("BE at limit") << "limit" << false << ok;
        QTest::newRow("LTE at limit") << "limit" << true << ok;
        QTest::newRow("BE HTML answer") << "html" << false << int(AgpsResult::NotEphemeris);
        QTest::newRow("LTE HTML answer") << "html" << true << int(AgpsResult::NotEphemeris);
    }
    void failedDownloadKeepsOlderFile() {
        QFETCH(QString, how);
        QFETCH(bool, lte);
        QFETCH(int, expected);
        const AgpsKind kind = lte ? AgpsKind::LTE : AgpsKind::BE;
        const qint64 limit = lte ? kLTEFileLimit : kBEFileLimit;
        const QString name = AgpsLocalFileName(kind);
        const QByteArray older = "older file\n" + QByteArray(3000, 'o');
        {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(older);
        }

        std::unique_ptr<AgpsServer> server;
        std::unique_ptr<FixedHttpServer> fixed;
        const QByteArray at_limit = FileAtLimit(kind);
        if (how == "unreachable") {
            SetAgpsHostForTesting(UnreachableAddress());
        } else if (how == "broken" || how == "hang") {
            server = std::make_unique<AgpsServer>(how);
            QVERIFY(!server->address().isEmpty());
            SetAgpsHostForTesting(server->address());
            SetAgpsTimeoutForTesting(1500);
        } else {
            const bool big = how.startsWith("big");
            fixed = std::make_unique<FixedHttpServer>(how == "404" ? 404 : 200,
                                                      how == "empty"  ? QByteArray()
                                                      : big           ? QByteArray(limit + 1, 'B')
                                                      : how == "html" ? kHtmlAnswer
                                                                      : at_limit,
                                                      how != "big");
            SetAgpsHostForTesting(fixed->address());
        }

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(int(DownloadAgpsFile(kind).result), expected);
        QVERIFY(clock.elapsed() < 12000);
        QCOMPARE(ReadAll(name), expected == int(AgpsResult::Ok) ? at_limit : older);
        // No temporary file is left behind.
        QCOMPARE(QDir::current().entryList(QDir::Files).size(), 1);
    }

    // The server is unreachable but an earlier download is present: that
    // file is uploaded, and it is still intact afterwards.
    void olderFileIsUsed() {
        QVERIFY(WriteEphemerisFile(AgpsKind::BE, "BE.bin"));
        const QByteArray before = ReadAll("BE.bin");
        SetAgpsHostForTesting(UnreachableAddress());
        StartSim();
        const Shown shown = RunTool(UpdateBEToGPS);
        QCOMPARE(shown.after_start, QString("BE file update OK!"));
        QCOMPARE(ReadAll("BE.bin"), before);
        QVERIFY(WaitReport(*sim_, "\"vbi\",\"state\":\"off\"", 5000));
        QCOMPARE(RecordedFrames(), ValidFrames(AgpsKind::BE, before));
    }

    // A server that answers 200 with an error page: the dialog opens saying
    // that the older file was kept and why, and Start uploads that file.
    void refusedAnswerShownAndOlderFileUsed_data() { uploadFromServer_data(); }
    void refusedAnswerShownAndOlderFileUsed() {
        QFETCH(bool, lte);
        const AgpsKind kind = lte ? AgpsKind::LTE : AgpsKind::BE;
        const QString name = AgpsLocalFileName(kind);
        QVERIFY(WriteEphemerisFile(kind, name));
        const QByteArray before = ReadAll(name);
        FixedHttpServer html(200, kHtmlAnswer, true);
        SetAgpsHostForTesting(html.address());
        StartSim();
        const Shown shown = lte ? RunTool(UpdateLTEToGPS) : RunTool(UpdateBEToGPS);
        QCOMPARE(shown.at_open,
                 lte ? QString("LTE.bin kept: the answer is not a long-term ephemeris file "
                               "(46 bytes, fewer than 1024)")
                     : QString("BE.bin kept: the answer is not a broadcast ephemeris file "
                               "(46 bytes, fewer than 2048)"));
        QCOMPARE(shown.after_start, QString(lte ? "LTE File update OK!" : "BE file update OK!"));
        QCOMPARE(ReadAll(name), before);
        QVERIFY(WaitReport(*sim_, "\"vbi\",\"state\":\"off\"", 5000));
        QCOMPARE(RecordedFrames(), ValidFrames(kind, before));
    }

    // A file the upload refuses (expired) gives the failure message and the
    // receiver is still switched back.
    void refusedFileReportsFailure() {
        QByteArray stale = "BE\n0000000001";
        stale += QByteArray(2100, '\0');
        {
            QFile f("BE.bin");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(stale);
        }
        SetAgpsHostForTesting(UnreachableAddress());
        StartSim();
        const Shown shown = RunTool(UpdateBEToGPS);
        QCOMPARE(shown.after_start, QString(" BE file update failed!(NG)"));
        QVERIFY(WaitReport(*sim_, "\"vbi\",\"state\":\"off\"", 5000));
        QVERIFY(RecordedFrames().isEmpty());
    }
};

QTEST_MAIN(TestAgpsTools)
#include "test_agps_tools.moc"
