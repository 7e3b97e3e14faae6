#include "mesh/SceneText.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "scene/SceneStream.h"

bool readsBackAs(std::string_view text, float value) {
  SceneStream stream{std::string(text)};
  double read = 0.0;
  if (stream.readNumber(read) != SceneStream::NumberResult::Ok || !stream.atEnd()) {
    return false;
  }
  return std::bit_cast<std::uint32_t>(float(read)) == std::bit_cast<std::uint32_t>(value);
}

std::string shortestSceneNumber(float value) {
  char buffer[48];
  // The shortest text for the float itself; read as a double and then
  // rounded to float it can land on a neighbour (rounding twice), so it is
  // checked and, failing that, the value is given with more digits, one at a
  // time, until one reads back (17 always does: it is the double exactly).
  const auto shortest = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, shortest.ptr);
  for (int digits = 2; digits <= 17 && !readsBackAs(text, value); ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, double(value));
    text = buffer;
  }
  return text;
}

void SceneText::number(float value) {
  if (!std::isfinite(value)) {
    finite_ = false;
    out_ += "0";
    return;
  }
  out_ += shortestSceneNumber(value);
}

void SceneText::triple(double x, double y, double z) {
  number(float(x));
  out_ += ' ';
  number(float(y));
  out_ += ' ';
  number(float(z));
  out_ += '\n';
}
