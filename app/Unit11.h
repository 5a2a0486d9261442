// Unit11: the serial reader thread UartThread.
#pragma once

#include <QString>
#include <QThread>

#include "EpochCollector.h"
#include "PortLink.h"

// The reader: while connected it runs the link module's reading loop on the
// open port through PortHandle; each complete sentence is shown in the
// terminal (run on the GUI thread, waited for) and then, when its checksum
// holds, handed to ParseNMEA through ReceivedEpochs().
// It frees itself when its body returns. Only one reader reads the port at any
// time: a new reader waits until every earlier one has left its body.
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

// The program opens and closes the port through these: the link module waits
// until the reader is between two reads, and PortHandle takes what COM_Open
// returned (0 after a failure); this is the one place it is written.
zorvik::link::OpenResult OpenPortBetweenReads(const QString& port_name, const QString& baud_text);
void ClosePortBetweenReads();
zorvik::link::OpenResult ReopenPortBetweenReads(const QString& port_name, const QString& baud_text);
// The reopen of a baud-rate change (link::OpenAtNewRate), with PortHandle following.
zorvik::link::OpenResult OpenAtNewRateBetweenReads(const QString& port_name,
                                                   const QString& baud_text);

// The epochs the reader gathers for the live view; emptied whenever the port
// is opened or closed.
zorvik::link::EpochCollector& ReceivedEpochs();
