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

// Removes each CR that is immediately followed by LF, in place. Most files
// have none, and memchr finds that out many bytes at a time.
void dropCarriageReturnsBeforeNewlines(std::string &text) {
  const std::size_t first = text.find('\r');
  if (first == std::string::npos) {
    return;
  }
  std::size_t out = first;
  const std::size_t n = text.size();
  for (std::size_t in = first; in < n; ++in) {
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

  // Take the characters a standard stream would take for a double: a sign,
  // digits, a point and digits, and an exponent if digits came before it.
  // On the way, gather what the common case needs: at most 19 significant
  // digits and a small exponent.
  const char *const text = text_.data();
  const std::size_t start = pos_;
  std::size_t at = pos_;
  const bool negative = text[at] == '-';
  if (text[at] == '+' || text[at] == '-') {
    ++at;
  }
  bool mantissa = false;
  std::uint64_t significand = 0;
  int significantDigits = 0; // from the first non-zero one; 20 when too many
  long long scale = 0;       // the value is significand * 10^scale
  const auto takeDigits = [&](bool fraction) {
    for (; at < n && isDigit(text[at]); ++at) {
      mantissa = true;
      if (significantDigits < 19) {
        significand = significand * 10 + std::uint64_t(text[at] - '0');
        significantDigits += significand != 0 ? 1 : 0;
        scale -= fraction ? 1 : 0;
      } else {
        significantDigits = 20; // leave it to the general parser
      }
    }
  };
  takeDigits(false);
  if (at < n && text[at] == '.') {
    ++at;
    takeDigits(true);
  }
  bool exponentMissing = false;
  if (mantissa && at < n && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    const bool negativeExponent = at < n && text[at] == '-';
    if (at < n && (text[at] == '+' || text[at] == '-')) {
      ++at;
    }
    exponentMissing = !(at < n && isDigit(text[at]));
    long long exponent = 0;
    for (; at < n && isDigit(text[at]); ++at) {
      exponent = std::min(exponent * 10 + (text[at] - '0'), 100000LL); // beyond any double
    }
    scale += negativeExponent ? -exponent : exponent;
  }
  pos_ = at;
  if (pos_ == n) {
    end_ = true;
  }

  // Exact fast path: a significand below 2^53 and a power of ten up to 10^22
  // are both exact doubles, so one multiplication or division rounds the
  // value correctly, as the general parser does.
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (mantissa && !exponentMissing && significantDigits <= 19 && significand <= (1ull << 53) &&
      scale >= -22 && scale <= 22) {
    const double m = double(significand);
    value = scale >= 0 ? m * kPowersOfTen[scale] : m / kPowersOfTen[-scale];
    if (negative) {
      value = -value;
    }
    return NumberResult::Ok;
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
