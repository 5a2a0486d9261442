// The reader's line assembly, free of the toolkit so that it can be tested
// and fuzzed on its own.
#pragma once

#include <cstdint>

namespace zorvik::link {

// Assembles NMEA sentences from single bytes: a '$' starts a line (dropping a
// line in progress), a line feed with at least three stored characters ends it,
// and the line end (the line feed and the character before it) is cut off.
// Bytes outside a started line are dropped, and so is a line that would exceed
// the buffer (noise or a wrong rate): the next '$' starts afresh. The buffer is zero-filled behind
// the sentence, so a parser may look at its first ten characters safely.
class LineAssembler {
  public:
    static constexpr int kCapacity = 500;

    enum class Result {
        None,      // byte consumed, no line complete
        Line,      // line() holds a complete sentence until release_line()
        Overflow,  // a line would exceed kCapacity characters: it is dropped whole
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

}  // namespace zorvik::link
