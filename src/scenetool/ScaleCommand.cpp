#include "scenetool/ScaleCommand.h"

#include <new>

#include "io/Console.h"
#include "io/OutputFile.h"
#include "io/WholeFile.h"
#include "mesh/SceneScale.h"
#include "scene/Scene.h"
#include "scenetool/Arguments.h"
#include "scenetool/SceneOutput.h"

const char *const kScaleUsage = "Usage: scenetool scale scene.txt K output.txt";

const char *const kScaleHelp =
    "Scales a whole scene about the origin by K, so that it lights the same: positions and\n"
    "radii by K, point-light colours by K squared. Use - as output.txt to write standard output.";

namespace {

int scale(const std::string &input, double k, const std::string &kText, const std::string &output) {
  if (const std::string same = outputIsInputProblem(input, output); !same.empty()) {
    return endWith(same);
  }
  std::string text;
  const ReadResult read = readWholeFile(input, text);
  if (read == ReadResult::CannotOpen) {
    return endWith("Error opening input file " + input);
  }
  if (read != ReadResult::Ok) {
    return endWith("Error reading input file " + input);
  }
  // The loader's own messages for a scene it would refuse.
  if (Scene().loadText(text) == 0) {
    return 1;
  }
  const ScaledScene scaled = scaleSceneText(std::move(text), k);
  if (!scaled.error.empty()) {
    return endWith(scaled.error);
  }
  if (const int written = writeSceneOutput(output, scaled.text); written != 0) {
    return written;
  }
  if (output != "-") {
    sayLine("Wrote " + input + " scaled by " + kText + " to " + output);
  }
  return 0;
}

} // namespace

int runScale(const std::vector<std::string> &args) {
  if (args.size() != 3) {
    return endWith(kScaleUsage);
  }
  const auto k = finiteNumber(args[1]);
  if (!k || !(*k > 0.0)) {
    return endWith("Invalid scale factor '" + args[1] + "': expected a number above 0");
  }
  try {
    return scale(args[0], *k, args[1], args[2]);
  } catch (const std::bad_alloc &) {
    return endWith("Not enough memory to scale " + args[0]);
  }
}
