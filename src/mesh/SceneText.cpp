#include "mesh/SceneText.h"

#include <charconv>

void appendNumber(std::string &out, float value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, error == std::errc() ? end : buffer);
}

void appendTriple(std::string &out, float x, float y, float z) {
  appendNumber(out, x);
  out += ' ';
  appendNumber(out, y);
  out += ' ';
  appendNumber(out, z);
  out += '\n';
}
