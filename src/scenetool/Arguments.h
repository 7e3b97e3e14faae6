#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Walks a subcommand's arguments: options with their values, and the
// remaining file names in order.
class Arguments {
public:
  explicit Arguments(std::vector<std::string> args) : args_(std::move(args)) {}

  bool done() const { return next_ >= args_.size(); }
  const std::string &take() { return args_[next_++]; }
  // The next `count` values of the option just taken, or nothing when the
  // arguments end first.
  std::optional<std::vector<std::string>> values(std::size_t count);

private:
  std::vector<std::string> args_;
  std::size_t next_ = 0;
};

// A whole argument read as a finite double (strtod's syntax).
std::optional<double> finiteNumber(const std::string &text);
