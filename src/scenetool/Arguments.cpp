#include "scenetool/Arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

std::optional<std::vector<std::string>> Arguments::values(std::size_t count) {
  if (args_.size() - next_ < count) {
    next_ = args_.size();
    return std::nullopt;
  }
  std::vector<std::string> out(args_.begin() + std::ptrdiff_t(next_),
                               args_.begin() + std::ptrdiff_t(next_ + count));
  next_ += count;
  return out;
}

std::optional<double> finiteNumber(const std::string &text) {
  errno = 0;
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}
