// Unit11: the serial reader thread UartThread and the line assembly it runs.
#pragma once

#include <QThread>
#include <cstddef>
#include <cstdint>

// Assembles NMEA sentences from single bytes: a '$' starts a line (dropping a
// line in progress), a line feed with at least three stored characters ends it,
// and the line end (the line feed and the character before it) is cut off.
// Bytes outside a started line are dropped. The buffer is zero-filled behind
// the sentence, so a parser may look at its first ten characters safely.
class LineAssembler {
  public:
    static constexpr int kCapacity = 500;

    enum class Result {
        None,      // byte consumed, no line complete
        Line,      // line() holds a complete sentence until release_line()
        Overflow,  // a line would exceed kCapacity characters; the reader ends
    };

    Result feed(std::uint8_t byte);

    // The completed sentence (valid after feed() returned Line).
    char* line() { return buffer_; }
    // Zero-fills the buffer after the sentence has been handed on.
    void release_line();

    int length() const { return length_; }
    bool started() const { return started_ != 0; }
    void reset();

  private:
    char buffer_[kCapacity + 1] = {};
    int length_ = 0;
    int started_ = 0;
};

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
    // Readers holding the right to read the port (never more than one).
    static int ReadingCount();
    // Highest ReadingCount() seen since the last call (for checks).
    static int TakeMaxReadingCount();

  protected:
    void run() override;
};

// The module-wide line state, shared by successive readers.
LineAssembler& ReaderLineState();
