// obj2scene input.obj output.txt [--size N | --keep-size] [--frame] [--floor]
//
// Converts a Wavefront OBJ mesh into scene-file text for the raytracer.
// Messages go to standard output, like the renderer's; when the scene itself
// goes to standard output ("-"), warnings appear only as comments in it.
// Exit status 0 when the scene was written, 1 otherwise.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/Console.h"
#include "io/OutputFile.h"
#include "io/OutputSignals.h"
#include "io/WholeFile.h"
#include "mesh/ObjConverter.h"

namespace {

const char *const kUsage = " input.obj output.txt [--size N | --keep-size] [--frame] [--floor]";

const char *const kHelp =
    "Converts a Wavefront OBJ mesh (v and f records) into a raytracer scene file.\n"
    "Use - as input.obj to read standard input, or as output.txt to write standard output.\n"
    "  --size N      centre the mesh on the origin and scale it so its largest extent is N\n"
    "                units (default 10); the renderer misses triangles that are too small\n"
    "  --keep-size   keep the OBJ coordinates as they are\n"
    "  --frame       add a camera, an ambient light and two direction lights aimed at the mesh\n"
    "  --floor       add a floor just below the mesh";

// The largest --size accepted: beyond it coordinates lose the range of floats
// for no purpose.
constexpr double kLargestSize = 1e6;

int say(const std::string &message, int status) {
  sayLine(message);
  return status;
}

bool parseSize(const std::string &text, double &size) {
  errno = 0;
  char *end = nullptr;
  size = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(size) && size > 0.0 &&
         size <= kLargestSize;
}

} // namespace

int main(int argc, char **argv) {
  installOutputSignalHandling();
  const std::string program = argc > 0 ? argv[0] : "obj2scene";
  const std::string usage = "Usage: " + program + kUsage;

  std::vector<std::string> files;
  ConvertOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      return say(usage + "\n" + kHelp, 0);
    } else if (arg == "--size" && i + 1 < argc) {
      const std::string value = argv[++i];
      if (!parseSize(value, options.size)) {
        return say("Invalid size '" + value + "': expected a number above 0 and at most 1000000",
                   1);
      }
    } else if (arg == "--keep-size") {
      options.size = 0.0;
    } else if (arg == "--frame") {
      options.frame = true;
    } else if (arg == "--floor") {
      options.floor = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return say(usage, 1);
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) {
    return say(usage, 1);
  }
  const std::string &inputPath = files[0];
  const std::string &outputPath = files[1];

  if (inputPath != "-" && outputPath != "-") {
    const std::string sameFile = outputIsInputProblem(inputPath, outputPath);
    if (!sameFile.empty()) {
      return say(sameFile, 1);
    }
  }

  std::string objText;
  const ReadResult read =
      inputPath == "-" ? readAll(stdin, objText) : readWholeFile(inputPath, objText);
  if (read == ReadResult::CannotOpen) {
    return say("Error opening input file " + inputPath, 1);
  }
  if (read != ReadResult::Ok) {
    return say("Error reading input file " + inputPath, 1);
  }

  options.sourceName = inputPath;
  const ConvertResult result = convertObj(objText, options);
  if (!result.error.empty()) {
    return say(result.error, 1);
  }

  if (outputPath == "-") {
    // The warnings are already comments in the scene text.
    std::fwrite(result.sceneText.data(), 1, result.sceneText.size(), stdout);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
  }
  if (writeWholeFile(outputPath, result.sceneText.data(), result.sceneText.size()) !=
      WriteResult::Ok) {
    return say("Error writing output file " + outputPath, 1);
  }
  for (const std::string &warning : result.warnings) {
    say(warning, 0);
  }
  return say("Wrote " + std::to_string(result.triangleCount) + " triangles to " + outputPath, 0);
}
