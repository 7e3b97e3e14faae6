#include "mesh/SceneScale.h"

#include <string_view>
#include <utility>

#include "mesh/SceneText.h"
#include "scene/SceneStream.h"

namespace {

// What each number of a command is, in reading order: kept (K), scaled by
// k (L, a length) or by k squared (P, a point-light colour); '/' ends a line.
struct Layout {
  std::string_view keyword;
  std::string_view numbers;
};

constexpr Layout kLayouts[] = {
    {"camera", "LLL/LLL/KKK/K/"}, {"ambientLight", "KKK/"}, {"directionLight", "KKK/KKK/"},
    {"pointLight", "PPP/LLL/"},   {"material", "KKK/K/K/"}, {"triangle", "LLL/LLL/LLL/"},
    {"sphere", "LLL/L/"},
};

} // namespace

ScaledScene scaleSceneText(std::string text, double k) {
  ScaledScene result;
  SceneStream in(std::move(text));
  SceneText out;
  long long lineNumber = 0;
  while (!in.atEnd()) {
    const std::string line = in.readLine();
    ++lineNumber;
    const Layout *layout = nullptr;
    for (const Layout &candidate : kLayouts) {
      if (line == candidate.keyword) {
        layout = &candidate;
      }
    }
    out.text(line);
    out.text("\n");
    if (layout == nullptr) {
      continue;
    }
    const std::string_view roles = layout->numbers;
    for (std::size_t i = 0; i < roles.size(); ++i) {
      const char role = roles[i];
      if (role == '/') {
        out.text("\n");
        continue;
      }
      double value = 0.0;
      in.readNumber(value);
      const float read = float(value);
      const double factor = role == 'L' ? k : role == 'P' ? k * k : 1.0;
      out.number(factor == 1.0 ? read : float(double(read) * factor));
      if (roles[i + 1] != '/') {
        out.text(" ");
      }
      if (!out.finite()) {
        result.error = "Line " + std::to_string(lineNumber) + ": the scaled " + line +
                       " has a number beyond the range of 32-bit floats";
        return result;
      }
    }
    in.discardOne();
  }
  result.text = out.release();
  return result;
}
