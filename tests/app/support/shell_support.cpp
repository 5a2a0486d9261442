#include "shell_support.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "Main.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"

namespace zorvik::apptest {

ModalWatcher::ModalWatcher(std::function<void(QWidget*)> action) : action_(std::move(action)) {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start();
}

ModalWatcher::~ModalWatcher() {
    timer_.stop();
}

int ModalWatcher::messageBoxes() const {
    int n = 0;
    for (const auto& s : seen_) n += s.className == "QMessageBox" ? 1 : 0;
    return n;
}

void ModalWatcher::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    SeenModal s;
    s.className = modal->metaObject()->className();
    s.objectName = modal->objectName();
    s.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        s.text = box->text();
        seen_.append(s);
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        return;
    }
    seen_.append(s);
    if (action_) action_(modal);
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) {
        dialog->reject();
    }
}

void EnsureApplicationWindows() {
    if (MainForm) return;
    CreateApplicationWindows();
    MainForm->show();
    QTest::qWait(50);
}

void ResetProgramState() {
    if (GetComPort_connected_Status() != 0) MainForm->ToolButton1Click();
    if (MainForm->Timer2->isActive()) MainForm->Timer2->stop();
    if (!MainForm->Timer1->isActive()) MainForm->Timer1->start();
    UartThread::StopAll(3000);
    QTest::qWait(30);  // lets finished readers free themselves
    if (Terminal) Terminal->Clear();
    PortName.clear();
    BaudRateText.clear();
    VersionCaptionShown = CustomerCaptionShown = CustomerVersionQueried = SingleChannelActive = 0;
    download_running.store(0);
    ReceivedEpochs().Reset();
}

void Receive(const std::string& raw) {
    std::string text = raw.substr(0, raw.size() >= 2 ? raw.size() - 2 : 0);
    text.resize(text.size() + 16, '\0');  // the reader's zero fill behind the line
    ReceivedEpochs().Take(zorvik::link::Line{raw, text.data()});
}

std::string Sentence(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum & 0xFF);
    return "$" + body + tail;
}

bool ReceivingSentences(int timeout_ms) {
    CMD_Clear_parse_rmc_done();
    return QTest::qWaitFor(
        [] {
            ParseNMEAInfo info{};
            GetParseNMEAInfo(&info);
            return info.parse_rmc_done == 1;
        },
        timeout_ms);
}

QByteArray ImagePattern(qsizetype size) {
    QByteArray data(size, '\0');
    quint32 x = 0x9e3779b9u;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = static_cast<char>(x >> 24);
    }
    return data;
}

}  // namespace zorvik::apptest
