#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "io/WholeFile.h"

// The character stream the scene loader reads, with every carriage return
// that directly precedes a newline removed. Lines, numbers and single
// characters are all taken from this one stream, with the end-of-input and
// failure semantics of a standard input stream, so a scene file reads the
// same however its commands are spread over lines.
class SceneStream {
public:
  // Longest line text kept; longer lines put the stream into the failed state.
  static constexpr std::size_t kMaxLineLength = 255;
  // A file is read in pieces of this many bytes: enough that reading costs
  // nothing next to parsing, few enough to stay in the processor's cache.
  static constexpr std::size_t kPieceBytes = std::size_t(1) << 17;

  // The stream of a text in memory.
  explicit SceneStream(std::string text);
  // The stream of an open file, read a piece at a time as the reads need it,
  // so that a large scene is never held as text. More than maxBytes bytes
  // end the stream early, as a read error does; readResult() says which.
  SceneStream(std::FILE *file, std::uintmax_t maxBytes);

  // Reads the rest of the file, keeping nothing, to learn whether all of it
  // could be read within the size limit.
  void drain();
  // Ok for a text in memory, else how reading the file went so far.
  ReadResult readResult() const { return readResult_; }

  // True once a read has run into the end of the input.
  bool atEnd() const { return end_; }
  // True once a read could not deliver what it was asked for; every later
  // read then fails too.
  bool failed() const { return failed_; }

  // Reads up to the next newline (consumed, not stored), at most
  // kMaxLineLength characters. The result is cut at its first NUL.
  std::string readLine();

  enum class NumberResult { Ok, EndOfInput, Malformed };
  // Formatted extraction of a double: skips white space, then takes the
  // longest prefix of the form [+-]digits[.digits][(e|E)[+-]digits]. On
  // failure `value` is 0.
  NumberResult readNumber(double &value);

  // Consumes one character, whatever it is.
  void discardOne();

  // The 1-based line, as an editor counts lines, where the next read starts.
  std::uint32_t line();

private:
  // Characters made visible before a number is taken; a longer token takes
  // another look.
  static constexpr std::size_t kTokenLookahead = 64;

  // What scanNumber finds.
  struct NumberToken {
    std::size_t end = 0; // one past the token's last character
    bool negative = false;
    // Whether the value is significand * 10^scale: digits came, at most 19
    // of them, and an exponent has its digits.
    bool exact = false;
    std::uint64_t significand = 0;
    long long scale = 0;
  };
  static NumberToken scanNumber(const char *text, std::size_t start, std::size_t n);
  // readNumber for every form and position, where the short forms' shortcut
  // does not apply.
  NumberResult readAnyNumber(double &value);
  // Parses a whole token with strtod; the slow path for out-of-range values.
  NumberResult parseWithStrtod(const std::string &token, double &value);
  // The characters in [begin, end) of the window, cut at the first NUL.
  std::string lineText(std::size_t begin, std::size_t end) const;
  // Makes at least `count` characters from the read position visible, unless
  // the input ends first.
  void ensure(std::size_t count);
  // Lets go of the characters before the read position and reads the next
  // piece of the file; false once the file has nothing more to give.
  bool refill();
  // Counts the newlines of the window before `index` not counted yet.
  void countLinesTo(std::size_t index);

  // The window of the stream held in memory: characters from windowStart_
  // on; pos_ indexes it.
  std::string text_;
  std::size_t windowStart_ = 0;
  std::size_t pos_ = 0;
  bool end_ = false;
  bool failed_ = false;
  std::size_t linesCountedTo_ = 0; // a stream offset
  std::uint32_t linesBefore_ = 0;

  // The file still being read, or null.
  std::FILE *file_ = nullptr;
  std::uintmax_t maxBytes_ = 0;
  std::uintmax_t bytesRead_ = 0;
  ReadResult readResult_ = ReadResult::Ok;
  // A carriage return ended the last piece read: whether it is dropped
  // depends on the first character of the next.
  bool pendingReturn_ = false;
};
