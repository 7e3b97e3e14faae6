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

// Removes each CR from `from` on that is immediately followed by LF, in
// place. Most files have none, and memchr finds that out many bytes at a time.
void dropCarriageReturnsBeforeNewlines(std::string &text, std::size_t from) {
  const std::size_t first = text.find('\r', from);
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

// The powers of ten that are exact doubles.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Characters readShortNumber may look at.
constexpr std::size_t kShortNumberView = 1 + 7 + 1 + 8;

// Reads the common short forms, [+-]digits[.digits] with at most 7 digits on
// either side of the point and no exponent after them, from kShortNumberView
// characters at `text`: returns how many it took and sets `value`, or returns
// 0 for any other form. The significand is below 2^53 and the scale at most
// 10^7, both exact, so one division rounds the value correctly, as the exact
// path of the general reader does.
std::size_t readShortNumber(const char *text, double &value) {
  const char *at = text + (text[0] == '+' || text[0] == '-' ? 1 : 0);
  std::int64_t significand = 0;
  // At most 8 digits each, so that neither loop leaves the view.
  const auto takeDigits = [&] {
    const char *const first = at;
    const char *const last = at + 8;
    for (unsigned d; at != last && (d = unsigned(*at) - '0') <= 9; ++at) {
      significand = significand * 10 + d;
    }
    return at - first;
  };
  const std::ptrdiff_t whole = takeDigits();
  std::ptrdiff_t fraction = 0;
  if (whole < 8 && *at == '.') {
    ++at;
    fraction = takeDigits();
  }
  if (whole + fraction == 0 || whole == 8 || fraction == 8 || *at == 'e' || *at == 'E') {
    return 0;
  }
  const double magnitude = double(significand) / kPowersOfTen[fraction];
  value = text[0] == '-' ? -magnitude : magnitude;
  return std::size_t(at - text);
}

} // namespace

SceneStream::SceneStream(std::string text) : text_(std::move(text)) {
  dropCarriageReturnsBeforeNewlines(text_, 0);
}

SceneStream::SceneStream(std::FILE *file, std::uintmax_t maxBytes)
    : file_(file), maxBytes_(maxBytes) {}

void SceneStream::ensure(std::size_t count) {
  while (text_.size() - pos_ < count && refill()) {
  }
}

bool SceneStream::refill() {
  if (file_ == nullptr) {
    return false;
  }
  countLinesTo(pos_);
  text_.erase(0, pos_);
  windowStart_ += pos_;
  pos_ = 0;
  const std::size_t kept = text_.size();
  if (pendingReturn_) {
    text_.push_back('\r');
    pendingReturn_ = false;
  }
  const std::size_t from = text_.size();
  text_.resize(from + kPieceBytes);
  const std::size_t got = std::fread(text_.data() + from, 1, kPieceBytes, file_);
  text_.resize(from + got);
  bytesRead_ += got;
  if (bytesRead_ > maxBytes_) {
    readResult_ = ReadResult::TooLarge;
    text_.resize(from);
    file_ = nullptr;
  } else if (got < kPieceBytes) {
    readResult_ = std::ferror(file_) != 0 ? ReadResult::CannotRead : ReadResult::Ok;
    file_ = nullptr;
  }
  dropCarriageReturnsBeforeNewlines(text_, kept);
  if (file_ != nullptr && text_.size() > kept && text_.back() == '\r') {
    text_.pop_back();
    pendingReturn_ = true;
  }
  return true;
}

void SceneStream::drain() {
  if (file_ == nullptr) {
    return;
  }
  char scratch[1 << 16];
  while (true) {
    const std::size_t got = std::fread(scratch, 1, sizeof scratch, file_);
    bytesRead_ += got;
    if (bytesRead_ > maxBytes_) {
      readResult_ = ReadResult::TooLarge;
      break;
    }
    if (got < sizeof scratch) {
      readResult_ = std::ferror(file_) != 0 ? ReadResult::CannotRead : ReadResult::Ok;
      break;
    }
  }
  file_ = nullptr;
}

std::string SceneStream::lineText(std::size_t begin, std::size_t end) const {
  const auto first = text_.begin() + std::ptrdiff_t(begin);
  return std::string(first, std::find(first, text_.begin() + std::ptrdiff_t(end), '\0'));
}

std::string SceneStream::readLine() {
  if (failed_) {
    return {};
  }
  ensure(kMaxLineLength + 1);
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

// Takes the characters a standard stream would take for a double from
// text[start, n): a sign, digits, a point and digits, and an exponent if
// digits came before it. On the way, gathers what the common case needs: at
// most 19 digits and a small exponent.
SceneStream::NumberToken SceneStream::scanNumber(const char *text, std::size_t start,
                                                 std::size_t n) {
  NumberToken token;
  std::size_t at = start;
  token.negative = text[at] == '-';
  if (text[at] == '+' || text[at] == '-') {
    ++at;
  }
  // Wraps beyond 19 digits, but then the token is not exact.
  std::uint64_t significand = 0;
  std::size_t digits = 0;
  const auto takeDigits = [&] {
    const std::size_t first = at;
    for (unsigned d; at < n && (d = unsigned(text[at]) - '0') <= 9; ++at) {
      significand = significand * 10 + d;
    }
    digits += at - first;
    return at - first;
  };
  takeDigits();
  long long scale = 0;
  if (at < n && text[at] == '.') {
    ++at;
    scale = -static_cast<long long>(takeDigits());
  }
  bool exponentMissing = false;
  if (digits > 0 && at < n && (text[at] == 'e' || text[at] == 'E')) {
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
  token.end = at;
  token.exact = digits > 0 && digits <= 19 && !exponentMissing;
  token.significand = significand;
  token.scale = scale;
  return token;
}

SceneStream::NumberResult SceneStream::readNumber(double &value) {
  // Most numbers of a large scene are short and well inside the window: read
  // without a token, and without the general reader's checks and calls.
  const std::size_t size = text_.size();
  std::size_t at = pos_;
  while (at < size && isSpace(text_[at])) {
    ++at;
  }
  if (!failed_ && size - at >= kShortNumberView) {
    pos_ = at;
    if (const std::size_t taken = readShortNumber(text_.data() + at, value); taken > 0) {
      pos_ += taken;
      return NumberResult::Ok;
    }
  }
  return readAnyNumber(value);
}

SceneStream::NumberResult SceneStream::readAnyNumber(double &value) {
  value = 0.0;
  if (failed_) {
    return NumberResult::EndOfInput;
  }
  while (true) {
    const std::size_t size = text_.size();
    while (pos_ < size && isSpace(text_[pos_])) {
      ++pos_;
    }
    if (pos_ < size || !refill()) {
      break;
    }
  }
  if (pos_ == text_.size()) {
    end_ = true;
    failed_ = true;
    return NumberResult::EndOfInput;
  }

  // A token that runs to the end of the window is taken again once more of
  // the file is in.
  const std::size_t start = pos_;
  ensure(kTokenLookahead);
  NumberToken token;
  while (true) {
    token = scanNumber(text_.data(), start, text_.size());
    if (token.end < text_.size() || file_ == nullptr) {
      break;
    }
    ensure(2 * (text_.size() - start));
  }
  pos_ = token.end;
  if (pos_ == text_.size()) {
    end_ = true;
  }

  // Exact fast path: a significand below 2^53 and a power of ten up to 10^22
  // are both exact doubles, so one multiplication or division rounds the
  // value correctly, as the general parser does.
  if (token.exact && token.significand <= (1ull << 53) && token.scale >= -22 && token.scale <= 22) {
    const double m = double(token.significand);
    value = token.scale >= 0 ? m * kPowersOfTen[token.scale] : m / kPowersOfTen[-token.scale];
    if (token.negative) {
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
  ensure(1);
  if (pos_ == text_.size()) {
    end_ = true;
    failed_ = true;
    return;
  }
  ++pos_;
}

void SceneStream::countLinesTo(std::size_t index) {
  // memchr scans many bytes per step; a byte-wise count would add a tenth to
  // the loading time of a large scene.
  const char *from = text_.data() + (linesCountedTo_ - windowStart_);
  const char *const to = text_.data() + index;
  if (from >= to) {
    return;
  }
  while ((from = static_cast<const char *>(std::memchr(from, '\n', std::size_t(to - from)))) !=
         nullptr) {
    ++linesBefore_;
    ++from;
  }
  linesCountedTo_ = windowStart_ + index;
}

std::uint32_t SceneStream::line() {
  countLinesTo(pos_);
  return linesBefore_ + 1;
}
