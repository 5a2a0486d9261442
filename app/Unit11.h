// Unit11: the serial reader thread UartThread.
#pragma once

#include <QString>
#include <QThread>

// The reader: while connected it reads the open port one byte at a time
// through PortHandle, shows each complete sentence in the terminal (run on the
// GUI thread, waited for) and then hands it to ParseNMEA. It frees itself when
// its body returns. Only one reader reads the port at any time: a new reader
// waits until every earlier one has left its body.
class UartThread : public QThread {
    Q_OBJECT
  public:
    UartThread();
    ~UartThread() override;

    // Asks every reader still running to stop and waits for them, serving the
    // GUI thread's events meanwhile so that a pending terminal append cannot
    // deadlock. Used when the program ends. Returns true when all have ended.
    static bool StopAll(int timeout_ms = 2000);
    // Readers between their start and the end of their body.
    static int LiveCount();
    // Highest number of readers holding the right to read the port at once,
    // since the last call (never more than one).
    static int TakeMaxReadingCount();

  protected:
    void run() override;
};

// The program opens and closes the port through these rather than COM_Open
// and COM_Close: they wait until the reader is between two reads, so that a
// read never meets a handle that is being closed. Returns what COM_Open did;
// on failure *open_error, when given, receives the system's error code.
int OpenPortBetweenReads(const QString& port_name, const QString& baud_text,
                         int* open_error = nullptr);
void ClosePortBetweenReads();

// Why an open failed, in the user's words, from the system's error code;
// empty when the code names no reason the user can act on.
QString PortOpenFailureReason(int open_error);
