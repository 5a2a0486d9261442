// Helpers for the program's tests: a real pseudo-terminal that plays the
// receiver, a watcher that answers modal dialogs and message boxes, and the
// one-time creation of the program's windows.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <functional>
#include <string>

namespace zorvik::apptest {

// A pseudo-terminal pair: the program opens slave_path() as its port, the
// test writes the receiver's bytes to the master side and reads what the
// program sent. The slave stays open here too, so that the pair survives the
// program's close and reopen, and so that the rate the program set can be read.
// On Windows the pair is two joined COM ports (ZORVIK_TEST_PORT for the
// program, ZORVIK_PEER_PORT for this side); the program's rate cannot be read
// from the far end there, so baud() is -1.
class PtyPeer {
  public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    QString port() const { return QString::fromStdString(slave_path_); }

    void write(const std::string& bytes);
    // What the program wrote: waits up to timeout_ms for the first byte,
    // then gathers until the line is quiet for quiet_ms.
    std::string read_burst(int timeout_ms = 1000, int quiet_ms = 80);
    void drain();
    // The baud rate currently set on the port (as the program configured it).
    long baud() const;

  private:
#ifdef _WIN32
    void* peer_ = nullptr;  // the peer port's HANDLE
#else
    int master_ = -1;
    int slave_ = -1;
#endif
    std::string slave_path_;
};

// One message box or modal dialog met by a ModalWatcher.
struct SeenModal {
    QString className;
    QString objectName;
    QString title;
    QString text;  // a message box's text
};

// Closes every modal window that opens while it lives (message boxes with
// their OK button, dialogs by reject()) and records what it saw. An optional
// action runs on a dialog before it is closed.
class ModalWatcher : public QObject {
  public:
    explicit ModalWatcher(std::function<void(QWidget*)> action = {});
    ~ModalWatcher() override;
    const QList<SeenModal>& seen() const { return seen_; }
    int messageBoxes() const;
    QString lastText() const { return seen_.isEmpty() ? QString() : seen_.back().text; }
    QString lastTitle() const { return seen_.isEmpty() ? QString() : seen_.back().title; }

  private:
    void poll();
    QTimer timer_;
    std::function<void(QWidget*)> action_;
    QList<SeenModal> seen_;
};

// Creates the program's windows once per test process and shows the main window.
void EnsureApplicationWindows();

// Puts the program back in the disconnected state between tests: closes the
// port, waits until every reader has ended, empties the terminal, resets the flags.
void ResetProgramState();

// A full sentence with its checksum and CR LF, for a body such as "GPRMC,...".
std::string Sentence(const std::string& body);
// A received line (as it came, line end included) taken as the program's
// reader takes it: into the epochs, and into ParseNMEA when intact.
void Receive(const std::string& raw);

// True once an RMC sentence is parsed within timeout_ms of the call: the link
// carries the receiver's sentences at the rate it is set to.
bool ReceivingSentences(int timeout_ms = 6000);

// Bytes of a firmware image for a download: a fixed pseudo-random pattern, so
// that a shifted, lost or repeated block shows in a comparison.
QByteArray ImagePattern(qsizetype size);

}  // namespace zorvik::apptest
