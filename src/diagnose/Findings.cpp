#include "diagnose/Findings.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

// Groups of up to this many name each line; larger ones give the range.
constexpr std::size_t kListedLines = 4;

std::string lineList(const std::vector<std::uint32_t> &lines) {
  if (lines.size() > kListedLines) {
    return "lines " + std::to_string(lines.front()) + "-" + std::to_string(lines.back());
  }
  std::string text = "lines ";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
  }
  return text;
}

std::string withCount(std::string text, std::size_t count) {
  const std::size_t at = text.find('#');
  if (at != std::string::npos) {
    text.replace(at, 1, std::to_string(count));
  }
  return text;
}

} // namespace

std::vector<std::string> formatFindings(const std::string &file, std::vector<Finding> findings) {
  std::stable_sort(findings.begin(), findings.end(),
                   [](const Finding &a, const Finding &b) { return a.line < b.line; });
  // Kinds in the order of their first line; each with all its lines.
  std::vector<const Finding *> firsts;
  std::map<std::string, std::vector<std::uint32_t>> linesOfKind;
  for (const Finding &finding : findings) {
    auto &lines = linesOfKind[finding.kind];
    if (lines.empty()) {
      firsts.push_back(&finding);
    }
    if (lines.empty() || lines.back() != finding.line) {
      lines.push_back(finding.line);
    }
  }
  std::vector<std::string> out;
  for (const Finding *first : firsts) {
    const std::size_t count = std::size_t(std::count_if(
        findings.begin(), findings.end(), [&](const Finding &f) { return f.kind == first->kind; }));
    const std::vector<std::uint32_t> &lines = linesOfKind[first->kind];
    std::string reason = count == 1 ? first->one : withCount(first->many, count);
    if (count > 1 && lines.size() > 1) {
      reason += " (" + lineList(lines) + ")";
    }
    out.push_back(file + ":" + std::to_string(first->line) + ": " + reason + "; " + first->advice);
  }
  return out;
}

std::string shortNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}
