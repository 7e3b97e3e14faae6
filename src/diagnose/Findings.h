#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One likely mistake in a scene file, tied to the line of the command
// concerned. Findings of the same `kind` are reported together as one line.
struct Finding {
  std::uint32_t line = 1;
  // Findings with equal kinds are grouped; usually a short tag.
  std::string kind;
  // The reason, for one occurrence ("sphere declared before any material
  // is black") and for a group, where "#" stands for the count ("# shapes
  // declared before any material are black").
  std::string one;
  std::string many;
  // What to do about it.
  std::string advice;
};

// The findings as compiler-style lines, "file:LINE: reason; what to do", in
// line order. A group names its first line, its count and its lines (a range
// when there are many: "lines 30-1265").
std::vector<std::string> formatFindings(const std::string &file, std::vector<Finding> findings);

// A number in at most six significant digits ("0.0012", "156", "1e+06").
std::string shortNumber(double value);
