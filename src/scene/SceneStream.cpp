#include "scene/SceneStream.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Removes each CR that is immediately followed by LF, in place.
void dropCarriageReturnsBeforeNewlines(std::string &text) {
  std::size_t out = 0;
  const std::size_t n = text.size();
  for (std::size_t in = 0; in < n; ++in) {
    if (text[in] == '\r' && in + 1 < n && text[in + 1] == '\n') {
      continue;
    }
    text[out++] = text[in];
  }
  text.resize(out);
}

} // namespace

SceneStream::SceneStream(std::string text) : text_(std::move(text)) {
  dropCarriageReturnsBeforeNewlines(text_);
}

std::string SceneStream::lineText(std::size_t begin, std::size_t end) const {
  const auto first = text_.begin() + std::ptrdiff_t(begin);
  return std::string(first, std::find(first, text_.begin() + std::ptrdiff_t(end), '\0'));
}

std::string SceneStream::readLine() {
  if (failed_) {
    return {};
  }
  const std::size_t start = pos_;
  const std::size_t n = text_.size();
  bool extracted = false;
  while (true) {
    if (pos_ == n) {
      end_ = true;
      break;
    }
    if (text_[pos_] == '\n') {
      const std::size_t stop = pos_;
      ++pos_;
      extracted = true;
      return lineText(start, stop);
    }
    if (pos_ - start == kMaxLineLength) {
      // Overlong: keep the first characters, leave the rest unread.
      failed_ = true;
      break;
    }
    ++pos_;
    extracted = true;
  }
  if (!extracted) {
    failed_ = true;
  }
  return lineText(start, pos_);
}

SceneStream::NumberResult SceneStream::readNumber(double &value) {
  value = 0.0;
  if (failed_) {
    return NumberResult::EndOfInput;
  }
  const std::size_t n = text_.size();
  while (pos_ < n && isSpace(text_[pos_])) {
    ++pos_;
  }
  if (pos_ == n) {
    end_ = true;
    failed_ = true;
    return NumberResult::EndOfInput;
  }

  // Take the characters a standard stream would take for a double.
  const std::size_t start = pos_;
  auto peekIs = [&](auto predicate) { return pos_ < n && predicate(text_[pos_]); };
  if (text_[pos_] == '+' || text_[pos_] == '-') {
    ++pos_;
  }
  bool mantissa = false;
  bool decimalPoint = false;
  while (pos_ < n) {
    const char c = text_[pos_];
    if (isDigit(c)) {
      mantissa = true;
    } else if (c == '.' && !decimalPoint) {
      decimalPoint = true;
    } else if ((c == 'e' || c == 'E') && mantissa) {
      ++pos_;
      if (peekIs([](char s) { return s == '+' || s == '-'; })) {
        ++pos_;
      }
      while (peekIs(isDigit)) {
        ++pos_;
      }
      break;
    } else {
      break;
    }
    ++pos_;
  }
  if (pos_ == n) {
    end_ = true;
  }

  // The taken characters must form a whole number, and it must fit a double.
  const char *first = text_.data() + start;
  const char *last = text_.data() + pos_;
  if (first != last && *first == '+') {
    ++first;
  }
  const auto [stop, error] = std::from_chars(first, last, value);
  if (error == std::errc::result_out_of_range) {
    // Rare: let strtod decide, which turns underflow into zero or a
    // subnormal and overflow into HUGE_VAL.
    return parseWithStrtod(std::string(first, last), value);
  }
  if (error != std::errc() || stop != last) {
    value = 0.0;
    failed_ = true;
    return NumberResult::Malformed;
  }
  return NumberResult::Ok;
}

SceneStream::NumberResult SceneStream::parseWithStrtod(const std::string &token, double &value) {
  const char *begin = token.c_str();
  char *stop = nullptr;
  const double parsed = std::strtod(begin, &stop);
  const bool whole = stop != begin && *stop == '\0';
  if (!whole || parsed == HUGE_VAL || parsed == -HUGE_VAL) {
    value = 0.0;
    failed_ = true;
    return NumberResult::Malformed;
  }
  value = parsed;
  return NumberResult::Ok;
}

void SceneStream::discardOne() {
  if (failed_) {
    return;
  }
  if (pos_ == text_.size()) {
    end_ = true;
    failed_ = true;
    return;
  }
  ++pos_;
}

std::uint32_t SceneStream::lineAt(std::size_t offset) {
  // memchr scans many bytes per step; a byte-wise count would add a tenth to
  // the loading time of a large scene.
  const char *from = text_.data() + linesCountedTo_;
  const char *const to = text_.data() + offset;
  while ((from = static_cast<const char *>(std::memchr(from, '\n', std::size_t(to - from)))) !=
         nullptr) {
    ++linesBefore_;
    ++from;
  }
  linesCountedTo_ = offset;
  return linesBefore_ + 1;
}
