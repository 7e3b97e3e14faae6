// Image size arguments: the driver reads them like atoi within 32 bits and
// accepts only sizes whose raster and BMP file fit 32-bit sizes. This target
// checks both against strtol and direct arithmetic on arbitrary text.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "app/CommandLine.h"

namespace {

constexpr long long kLargest = std::numeric_limits<std::int32_t>::max();
constexpr long long kSmallest = std::numeric_limits<std::int32_t>::min();

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// What parseSizeArgument must return: strtol's value when it is a 32-bit
// integer, nothing otherwise.
std::optional<long long> expectedSize(const std::string &text) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < kSmallest || value > kLargest) {
    return std::nullopt;
  }
  return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // Two arguments, split at the first NUL; an argument cannot hold a NUL.
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  const std::size_t split = bytes.find('\0');
  const std::string widthText = bytes.substr(0, split);
  std::string heightText = split == std::string::npos ? "1" : bytes.substr(split + 1);
  heightText = heightText.substr(0, heightText.find('\0'));

  const std::optional<long long> parsedWidth = parseSizeArgument(widthText);
  const std::optional<long long> parsedHeight = parseSizeArgument(heightText);
  check(parsedWidth == expectedSize(widthText));
  check(parsedHeight == expectedSize(heightText));

  int width = -1;
  int height = -1;
  const std::string problem = checkImageSize(widthText, heightText, width, height);
  const bool positive = parsedWidth.value_or(0) >= 1 && parsedHeight.value_or(0) >= 1;
  if (!positive) {
    check(!problem.empty());
    return 0;
  }
  // Below 2^31 each, so these products fit 64 unsigned bits.
  const auto w = std::uint64_t(*parsedWidth);
  const auto h = std::uint64_t(*parsedHeight);
  const auto largest = std::uint64_t(kLargest);
  const bool fits = 3 * w * h <= largest && 54 + (3 * w + 3) / 4 * 4 * h <= largest;
  check(problem.empty() == fits);
  if (fits) {
    check(std::uint64_t(width) == w && std::uint64_t(height) == h);
  }
  return 0;
}
