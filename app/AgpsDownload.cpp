#include "AgpsDownload.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <memory>

#include "Fonts.h"
#include "Main.h"
#include "serial_port.h"

namespace svc = zorvik::service;

namespace {

QString& hostOverride() {
    static QString host;
    return host;
}

int& timeoutOverride() {
    static int timeout_ms = 0;
    return timeout_ms;
}

svc::AgpsKind ServiceKind(AgpsKind kind) {
    return kind == AgpsKind::BE ? svc::AgpsKind::BE : svc::AgpsKind::LTE;
}

// Holds the busy cursor for the lifetime of the object.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

void SetAgpsHostForTesting(const QString& host) {
    hostOverride() = host;
}
void SetAgpsTimeoutForTesting(int timeout_ms) {
    timeoutOverride() = timeout_ms;
}

QString AgpsHost() {
    QString host =
        hostOverride().isEmpty() ? QString::fromStdString(svc::DefaultAgpsHost()) : hostOverride();
    while (host.endsWith('/')) host.chop(1);
    return host;
}

QString AgpsLocalFileName(AgpsKind kind) {
    return QString::fromStdString(svc::AgpsLocalFileName(ServiceKind(kind)));
}

AgpsDownloadOutcome DownloadAgpsFile(AgpsKind kind) {
    BusyCursor busy;
    svc::AgpsDownloadRequest request;
    request.kind = ServiceKind(kind);
    request.host = AgpsHost().toStdString();
    request.file = QDir::current().filePath(AgpsLocalFileName(kind)).toLocal8Bit().toStdString();
    if (timeoutOverride() > 0) request.timeout_ms = timeoutOverride();

    // The download runs beside the GUI thread, which keeps painting (and
    // serving its own sockets) but takes no user input until it ends.
    AgpsDownloadOutcome result;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { result = svc::DownloadAgpsFile(request); }));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    if (!worker->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker->wait();
    return result;
}

TEphemerisUploadDialog::TEphemerisUploadDialog(AgpsKind kind, const char* object_name,
                                               const char* caption, QWidget* parent)
    : QDialog(parent), kind_(kind) {
    setObjectName(object_name);
    setWindowTitle(caption);
    setModal(true);

    Button1 = new QPushButton("Start", this);
    Button1->setObjectName("Button1");
    GroupBox1 = new QGroupBox("Updating Message", this);
    GroupBox1->setObjectName("GroupBox1");
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName("Label1");
    Label1->setFont(Fonts::ArialPoints(14, QFont::Bold));
    Label1->setMinimumWidth(320);
    Label1->setMinimumHeight(40);
    Label1->setWordWrap(true);  // a refused download's reason is longer than the usual lines

    auto* group_layout = new QVBoxLayout(GroupBox1);
    group_layout->addWidget(Label1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Button1, 0, Qt::AlignLeft);
    layout->addWidget(GroupBox1);
    connect(Button1, &QPushButton::clicked, this, &TEphemerisUploadDialog::Button1Click);
}

void TEphemerisUploadDialog::RunFromToolButton() {
    // A failed download is not reported: the dialog works with whatever file
    // is present, and an older file survives a failed download untouched.
    // An answer that arrived but was refused is shown, since the server
    // claimed success: Start then uploads the older file, if any.
    const AgpsDownloadOutcome downloaded = DownloadAgpsFile(kind_);
    if (downloaded.result == AgpsResult::NotEphemeris ||
        downloaded.result == AgpsResult::NotValidNow)
        Label1->setText(QString::fromStdString(downloaded.message));
    exec();
    Label1->setText("  ");
}

void TEphemerisUploadDialog::Button1Click() {
    // The upload blocks the GUI thread for its whole duration.
    BusyCursor busy;
    svc::UploadHooks hooks;
    hooks.status = [this](const std::string& text) {
        Label1->setText(QString::fromStdString(text));
        Label1->repaint();
    };
    // The reader hands each line to this thread before it parses it: the
    // receiver's reply after the switch back arrives only while events run
    // (user input waits, so no second Start comes in).
    hooks.await_version_reply = [this](int timeout_ms) {
        QElapsedTimer clock;
        clock.start();
        bool answered = false;
        while (!answered && clock.elapsed() < timeout_ms) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
            ParseNMEAInfo info{};
            GetParseNMEAInfo(&info);
            answered = info.parse_fw_ver_done == 1;
            if (!answered) QThread::msleep(5);
        }
        return answered;
    };
    hooks.drop_stale_input = [] {
        zorvik::serial::purge(PortHandle.load(), zorvik::serial::kPurgeInput);
    };
    svc::UploadEphemeris(ServiceKind(kind_), svc::AgpsLocalFileName(ServiceKind(kind_)), hooks);
}
