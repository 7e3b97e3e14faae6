#include "scenetool/ExplainCommand.h"

#include <cctype>
#include <cstdio>
#include <new>

#include "app/CommandLine.h"
#include "diagnose/PixelTrace.h"
#include "io/Console.h"
#include "scene/Scene.h"

const char *const kExplainUsage =
    "Usage: scenetool explain scene.txt W H X Y [--from-top] [--json]";

const char *const kExplainHelp =
    "Prints what the renderer computes for pixel column X, row Y of a W x H render: the ray,\n"
    "the shape it hits (with its scene line), each light (on the viewer's side or not, which\n"
    "shape blocks it, what it adds), each mirror bounce, the colour before clamping and the\n"
    "three bytes stored. Row 0 is the bottom row, as the renderer counts; with --from-top row\n"
    "0 is the top row, as image viewers count. --json prints one JSON object, the stored\n"
    "bytes under \"bytes\". The tracing is the renderer's own, so the bytes are the pixel's.";

namespace {

// A pixel coordinate below `limit`: digits only, so that a word or a
// misplaced option is refused rather than read as column or row 0.
bool readCoordinate(const std::string &text, int limit, int &value) {
  const auto parsed = parseSizeArgument(text);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || !parsed ||
      *parsed >= limit) {
    return false;
  }
  value = int(*parsed);
  return true;
}

} // namespace

int runExplain(const std::vector<std::string> &args) {
  std::vector<std::string> positional;
  bool fromTop = false;
  bool json = false;
  for (const std::string &arg : args) {
    if (arg == "--from-top") {
      fromTop = true;
    } else if (arg == "--json") {
      json = true;
    } else if (arg.size() > 1 && arg[0] == '-' &&
               !std::isdigit(static_cast<unsigned char>(arg[1]))) {
      return endWith("Unknown option '" + arg + "': " + kExplainUsage);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 5) {
    return endWith(kExplainUsage);
  }
  int width = 0;
  int height = 0;
  if (const std::string message = checkImageSize(positional[1], positional[2], width, height);
      !message.empty()) {
    return endWith(message);
  }
  int x = 0;
  int y = 0;
  if (!readCoordinate(positional[3], width, x)) {
    return endWith("Invalid column '" + positional[3] + "': expected a whole number from 0 to " +
                   std::to_string(width - 1));
  }
  if (!readCoordinate(positional[4], height, y)) {
    return endWith("Invalid row '" + positional[4] + "': expected a whole number from 0 to " +
                   std::to_string(height - 1));
  }
  if (fromTop) {
    y = height - 1 - y;
  }
  try {
    Scene scene;
    if (scene.load(positional[0]) == 0) {
      return 1;
    }
    const PixelTrace trace = explainPixel(scene, width, height, x, y);
    if (json) {
      sayLine(pixelTraceJson(trace));
    } else {
      std::fputs(describePixelTrace(trace).c_str(), stdout);
    }
    return 0;
  } catch (const std::bad_alloc &) {
    return endWith("Not enough memory to explain a pixel of " + positional[0]);
  }
}
