#include "AgpsDownload.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "Fonts.h"

#ifndef ZORVIK_AGPS_HOST
#define ZORVIK_AGPS_HOST "http://127.0.0.1:8089"
#endif
#ifndef ZORVIK_AGPS_ACCOUNT
#define ZORVIK_AGPS_ACCOUNT "9387"
#endif
#ifndef ZORVIK_AGPS_KEY
#define ZORVIK_AGPS_KEY "c7d41a09-5e3b-4f21-9a8c-3b6e0d2f71a4"
#endif
#ifndef ZORVIK_AGPS_NUMBER
#define ZORVIK_AGPS_NUMBER "630418275"
#endif

namespace {

QString& hostOverride() {
    static QString host;
    return host;
}

int& timeoutOverride() {
    static int timeout_ms = 0;
    return timeout_ms;
}

qint64 limitFor(AgpsKind kind) {
    return kind == AgpsKind::BE ? kBEFileLimit : kLTEFileLimit;
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
    QString host = hostOverride().isEmpty() ? QString::fromUtf8(ZORVIK_AGPS_HOST) : hostOverride();
    while (host.endsWith('/')) host.chop(1);
    return host;
}

QString AgpsRequestPath(AgpsKind kind) {
    const QString usr =
        QStringLiteral("USR(%1,%2,%3,());")
            .arg(QString::fromUtf8(ZORVIK_AGPS_ACCOUNT), QString::fromUtf8(ZORVIK_AGPS_KEY),
                 QString::fromUtf8(ZORVIK_AGPS_NUMBER));
    const QString data = kind == AgpsKind::BE ? QStringLiteral("BE(BE,VBI::Ephemeris);")
                                              : QStringLiteral("LE(LE,VBI::Ephemeris,120,4);");
    return QStringLiteral("/?RQ=") + usr + data;
}

QString AgpsRequestAddress(AgpsKind kind) {
    return AgpsHost() + AgpsRequestPath(kind);
}

QString AgpsLocalFileName(AgpsKind kind) {
    return kind == AgpsKind::BE ? QStringLiteral("BE.bin") : QStringLiteral("LTE.bin");
}

AgpsResult DownloadAgpsFile(AgpsKind kind) {
    BusyCursor busy;
    const qint64 limit = limitFor(kind);
    const int timeout_ms = timeoutOverride() > 0 ? timeoutOverride() : kAgpsDownloadTimeoutMs;

    // The request text is sent as it stands: its brackets, commas, colons and
    // semicolons are all legal in a query.
    const QUrl url = QUrl::fromEncoded(AgpsRequestAddress(kind).toLatin1(), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty()) return AgpsResult::NetworkError;

    QSaveFile file(QDir::current().filePath(AgpsLocalFileName(kind)));
    if (!file.open(QIODevice::WriteOnly)) return AgpsResult::WriteError;

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeout_ms);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);

    AgpsResult result = AgpsResult::Ok;
    qint64 received = 0;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);

    auto fail = [&](AgpsResult why) {
        if (result == AgpsResult::Ok) result = why;
        reply->abort();
    };
    auto take = [&] {
        if (result != AgpsResult::Ok) return;
        const QByteArray chunk = reply->readAll();
        received += chunk.size();
        if (received > limit) {
            fail(AgpsResult::TooLarge);
            return;
        }
        if (file.write(chunk) != chunk.size()) fail(AgpsResult::WriteError);
    };

    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit) fail(AgpsResult::TooLarge);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { fail(AgpsResult::TimedOut); });
    deadline.start(timeout_ms);

    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();
    take();

    if (result == AgpsResult::Ok) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::OperationCanceledError ||
            reply->error() == QNetworkReply::TimeoutError) {
            result = AgpsResult::TimedOut;
        } else if (reply->error() != QNetworkReply::NoError || status != 200) {
            result = AgpsResult::NetworkError;
        } else if (received == 0) {
            result = AgpsResult::Empty;
        }
    }

    if (result != AgpsResult::Ok) {
        file.cancelWriting();
        return result;
    }
    return file.commit() ? AgpsResult::Ok : AgpsResult::WriteError;
}

EphemerisDialogControls BuildEphemerisDialog(QDialog* dialog, const char* object_name,
                                             const char* caption) {
    dialog->setObjectName(object_name);
    dialog->setWindowTitle(caption);
    dialog->setModal(true);

    EphemerisDialogControls c{};
    c.Button1 = new QPushButton("Start", dialog);
    c.Button1->setObjectName("Button1");
    c.GroupBox1 = new QGroupBox("Updating Message", dialog);
    c.GroupBox1->setObjectName("GroupBox1");
    c.Label1 = new QLabel(c.GroupBox1);
    c.Label1->setObjectName("Label1");
    c.Label1->setFont(Fonts::ArialPoints(14, QFont::Bold));
    c.Label1->setMinimumWidth(320);
    c.Label1->setMinimumHeight(40);

    auto* group_layout = new QVBoxLayout(c.GroupBox1);
    group_layout->addWidget(c.Label1);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(c.Button1, 0, Qt::AlignLeft);
    layout->addWidget(c.GroupBox1);
    return c;
}
