#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The character stream the scene loader reads: the whole file in memory, with
// every carriage return that directly precedes a newline removed. Lines,
// numbers and single characters are all taken from this one stream, with the
// end-of-input and failure semantics of a standard input stream, so a scene
// file reads the same however its commands are spread over lines.
class SceneStream {
public:
  // Longest line text kept; longer lines put the stream into the failed state.
  static constexpr std::size_t kMaxLineLength = 255;

  explicit SceneStream(std::string text);

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

  // Where the next read starts, in characters from the start of the text.
  std::size_t position() const { return pos_; }
  // The 1-based line of the text that `offset` lies on, as an editor counts
  // lines. Offsets must not decrease from call to call: each call counts only
  // the newlines since the previous one.
  std::uint32_t lineAt(std::size_t offset);

private:
  // Parses a whole token with strtod; the slow path for out-of-range values.
  NumberResult parseWithStrtod(const std::string &token, double &value);
  // The characters in [begin, end), cut at the first NUL.
  std::string lineText(std::size_t begin, std::size_t end) const;

  std::string text_;
  std::size_t pos_ = 0;
  bool end_ = false;
  bool failed_ = false;
  std::size_t linesCountedTo_ = 0;
  std::uint32_t linesBefore_ = 0;
};
