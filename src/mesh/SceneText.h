#pragma once

#include <string>
#include <string_view>
#include <utility>

// Scene text as the scene loader reads it back. Every number is written in
// the shortest form that the loader's own reading (a double, then rounded
// to the stored float) turns into the same float, checked by reading it.
class SceneText {
public:
  void number(float value);
  // "x y z\n", each rounded to float first.
  void triple(double x, double y, double z);
  void text(std::string_view line) { out_ += line; }
  void reserve(std::size_t bytes) { out_.reserve(bytes); }

  // False once a non-finite number was asked for: such text must not be
  // written anywhere.
  bool finite() const { return finite_; }
  const std::string &str() const { return out_; }
  std::string release() { return std::move(out_); }

private:
  std::string out_;
  bool finite_ = true;
};

// The shortest text that reads back as `value` through the scene loader.
std::string shortestSceneNumber(float value);

// True when the loader reads `text` as exactly `value` (sign of zero
// included).
bool readsBackAs(std::string_view text, float value);
