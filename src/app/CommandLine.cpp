#include "app/CommandLine.h"

#include <cstdint>
#include <limits>

namespace {

constexpr long long kLargestInt = std::numeric_limits<std::int32_t>::max();

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string checkOne(const char *name, const std::string &text, int &value) {
  const std::optional<long long> parsed = parseSizeArgument(text);
  if (!parsed || *parsed < 1) {
    return std::string("Invalid image ") + name + " '" + text +
           "': expected a whole number from 1 to " + std::to_string(kLargestInt);
  }
  value = int(*parsed);
  return {};
}

} // namespace

std::optional<long long> parseSizeArgument(const std::string &text) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLargestInt + 1) {
      return std::nullopt;
    }
  }
  value = negative ? -value : value;
  if (value > kLargestInt) {
    return std::nullopt;
  }
  return value;
}

std::string checkImageSize(const std::string &widthText, const std::string &heightText, int &width,
                           int &height) {
  std::string problem = checkOne("width", widthText, width);
  if (problem.empty()) {
    problem = checkOne("height", heightText, height);
  }
  if (!problem.empty()) {
    return problem;
  }
  // Pixel offsets and the BMP header's file size are 32-bit values. Both
  // sizes are below 2^31, so these products stay below 2^64 unsigned (but not
  // below 2^63).
  const std::uint64_t rowSize = (3 * std::uint64_t(width) + 3) / 4 * 4;
  const std::uint64_t rasterBytes = 3 * std::uint64_t(width) * std::uint64_t(height);
  const std::uint64_t fileBytes = 54 + rowSize * std::uint64_t(height);
  if (rasterBytes > kLargestInt || fileBytes > kLargestInt) {
    return "Image too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels do not fit in a BMP file of at most " + std::to_string(kLargestInt) + " bytes";
  }
  return {};
}
