#include "shell_support.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "Main.h"
#include "Unit11.h"
#include "Unit12.h"
#include "ZorvikDll.h"

namespace zorvik::apptest {

PtyPeer::PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    const char* name = ::ptsname(master_);
    if (!name) throw std::runtime_error("ptsname failed");
    slave_path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) throw std::runtime_error("cannot open the pseudo-terminal's slave");
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

void PtyPeer::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to the pseudo-terminal failed");
        } else {
            QThread::msleep(1);
        }
    }
}

std::string PtyPeer::read_burst(int timeout_ms, int quiet_ms) {
    std::string out;
    int wait = timeout_ms;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        // Keep the program's events flowing while waiting.
        const auto start = std::chrono::steady_clock::now();
        int ready = 0;
        while (true) {
            ready = ::poll(&p, 1, 10);
            if (ready != 0) break;
            QCoreApplication::processEvents();
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(wait)) break;
        }
        if (ready <= 0) break;
        char buf[512];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        wait = quiet_ms;
    }
    return out;
}

void PtyPeer::drain() {
    read_burst(30, 30);
}

long PtyPeer::baud() const {
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) return -1;
    switch (::cfgetispeed(&tio)) {
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

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
