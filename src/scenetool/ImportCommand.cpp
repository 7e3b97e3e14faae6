#include "scenetool/ImportCommand.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <system_error>

#include "io/Console.h"
#include "io/OutputFile.h"
#include "mesh/AssimpReader.h"
#include "mesh/ImportScene.h"
#include "mesh/IsolatedReader.h"
#include "mesh/Placement.h"
#include "scenetool/Arguments.h"
#include "scenetool/SceneOutput.h"

const char *const kImportUsage =
    "Usage: scenetool import mesh-file output.txt [--size N | --keep-size] [--at X Y Z] "
    "[--up y|z] [--rotate-x|-y|-z DEG] [--material R G B EXP REFL] [--frame] [--floor] "
    "[--time-limit SECONDS] [--memory-limit MB]";

const char *const kImportHelp =
    "Turns a mesh (.obj, .ply, .stl, .gltf, .glb, .off, .dae) into a raytracer scene file.\n"
    "Use - as output.txt to write standard output.\n"
    "  --size N          scale the mesh so its largest extent is N units; by default the\n"
    "                    smallest size from 10 up at which 99% of the triangles show\n"
    "  --keep-size       keep the file's coordinates (after --up and --rotate)\n"
    "  --at X Y Z        put the bottom centre of the mesh there (default 0 0 0)\n"
    "  --up y|z          the file's up axis (default y)\n"
    "  --rotate-x DEG    turn about x (likewise -y, -z), after --up, before sizing\n"
    "  --material R G B EXP REFL   the mesh's colour, specular exponent, reflectivity\n"
    "                    (default 0.8 0.75 0.7 30 0.1)\n"
    "  --frame           add a camera aimed at the mesh, an ambient and two direction lights\n"
    "  --floor           add a floor just below the mesh\n"
    "  --time-limit S    give up reading after S seconds (default 30 plus 1 per MB)\n"
    "  --memory-limit MB give up reading beyond MB megabytes (default 1024 plus 64 times\n"
    "                    the file's size)";

namespace {

const char *const kFormats[] = {"obj", "ply", "stl", "gltf", "glb", "off", "dae"};

std::string lowerExtension(const std::string &path) {
  std::string extension = std::filesystem::path(path).extension().string();
  if (!extension.empty()) {
    extension.erase(0, 1);
  }
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return extension;
}

struct ImportRequest {
  std::string input;
  std::string output;
  PlacementOptions placement;
  SceneOptions scene;
  std::optional<double> seconds;
  std::optional<double> megabytes;
};

// Reads the options; on a mistake prints the one line and returns false.
bool parseImport(const std::vector<std::string> &args, ImportRequest &request, int &status) {
  Arguments in(args);
  std::vector<std::string> files;
  bool zUp = false;
  double turns[3] = {};
  auto numbers = [&](const std::string &option, std::size_t count, double *out) {
    const auto values = in.values(count);
    if (!values) {
      status = endWith(kImportUsage);
      return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
      // Every value ends up as a float in the scene.
      const auto value = finiteNumber((*values)[i]);
      if (!value || !(std::fabs(*value) <= std::numeric_limits<float>::max())) {
        status = endWith("Invalid " + option + " value '" + (*values)[i] +
                         "': expected a number within the range of 32-bit floats");
        return false;
      }
      out[i] = *value;
    }
    return true;
  };
  // One number above 0 and at most `largest`; `what` names it in the message.
  auto positive = [&](const std::string &what, double largest, const char *largestText,
                      double &out) {
    const auto text = in.values(1);
    if (!text) {
      status = endWith(kImportUsage);
      return false;
    }
    const auto value = finiteNumber((*text)[0]);
    if (!value || !(*value > 0.0 && *value <= largest)) {
      status = endWith("Invalid " + what + " '" + (*text)[0] +
                       "': expected a number above 0 and at most " + largestText);
      return false;
    }
    out = *value;
    return true;
  };
  while (!in.done()) {
    const std::string arg = in.take();
    if (arg == "--help" || arg == "-h") {
      status = endWith(std::string(kImportUsage) + "\n" + kImportHelp, 0);
      return false;
    } else if (arg == "--size") {
      if (!positive("size", kLargestSize, "1000000", request.placement.size)) {
        return false;
      }
      request.placement.sizeMode = SizeMode::Fixed;
    } else if (arg == "--keep-size") {
      request.placement.sizeMode = SizeMode::Keep;
    } else if (arg == "--at") {
      if (!numbers(arg, 3, request.placement.at)) {
        return false;
      }
      request.placement.hasAt = true;
    } else if (arg == "--up") {
      const auto axis = in.values(1);
      if (!axis || ((*axis)[0] != "y" && (*axis)[0] != "z")) {
        status = endWith(axis ? "Invalid --up value '" + (*axis)[0] + "': expected y or z"
                              : std::string(kImportUsage));
        return false;
      }
      zUp = (*axis)[0] == "z";
    } else if (arg == "--rotate-x" || arg == "--rotate-y" || arg == "--rotate-z") {
      if (!numbers(arg, 1, &turns[arg.back() - 'x'])) {
        return false;
      }
    } else if (arg == "--material") {
      double m[5] = {};
      if (!numbers(arg, 5, m)) {
        return false;
      }
      MeshMaterial &material = request.scene.material;
      for (int i = 0; i < 3; ++i) {
        material.color[i] = float(m[i]);
      }
      material.exponent = float(m[3]);
      material.reflectivity = float(m[4]);
    } else if (arg == "--frame") {
      request.scene.frame = true;
    } else if (arg == "--floor") {
      request.scene.floor = true;
    } else if (arg == "--time-limit" || arg == "--memory-limit") {
      double limit = 0.0;
      if (!positive(arg + " value", 1e7, "10000000", limit)) {
        return false;
      }
      (arg == "--time-limit" ? request.seconds : request.megabytes) = limit;
    } else if (arg.size() > 1 && arg[0] == '-') {
      status = endWith(kImportUsage);
      return false;
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) {
    status = endWith(kImportUsage);
    return false;
  }
  request.input = files[0];
  request.output = files[1];
  request.placement.orientation = makeOrientation(zUp, turns[0], turns[1], turns[2]);
  request.scene.sourceName = request.input;
  return true;
}

int import(const ImportRequest &request) {
  const std::string &input = request.input;
  const std::string extension = lowerExtension(input);
  if (std::find(std::begin(kFormats), std::end(kFormats), extension) == std::end(kFormats)) {
    const std::string formats =
        "scenetool import reads .obj, .ply, .stl, .gltf, .glb, .off and .dae files";
    return endWith(
        extension.empty()
            ? "Cannot tell the mesh format of " + input + " without an extension: " + formats
            : "Unsupported mesh format '" + extension + "' of " + input + ": " + formats);
  }
  std::error_code error;
  const auto status = std::filesystem::status(input, error);
  if (error || !std::filesystem::exists(status)) {
    return endWith("Error opening input file " + input);
  }
  if (std::filesystem::is_directory(status)) {
    return endWith("Error reading input file " + input);
  }
  if (const std::string same = outputIsInputProblem(input, request.output); !same.empty()) {
    return endWith(same);
  }
  const std::uintmax_t bytes =
      std::filesystem::is_regular_file(status) ? std::filesystem::file_size(input, error) : 0;
  ReadLimits limits = limitsForFileSize(error ? 0 : bytes);
  if (request.seconds) {
    limits.seconds = *request.seconds;
  }
  if (request.megabytes) {
    limits.memoryBytes = std::uint64_t(*request.megabytes * 1048576.0);
  }

  ReadOutcome read = readMeshIsolated(input, limits, readMeshWithAssimp);
  if (!read.error.empty()) {
    return endWith("Cannot read " + input + ": " + read.error);
  }
  const Mesh &mesh = read.mesh;
  if (mesh.triangles.empty()) {
    return endWith("Cannot import " + input + ": no triangles (" +
                   countOf(mesh.skippedPoints, "point") + " and " +
                   countOf(mesh.skippedLines, "line") + " skipped)");
  }
  const Placement placed = placeMesh(mesh, request.placement);
  if (!placed.error.empty()) {
    return endWith("Cannot import " + input + ": " + placed.error);
  }
  const ImportedScene scene = writeImportedScene(mesh, placed, request.placement, request.scene);
  if (!scene.error.empty()) {
    return endWith("Cannot import " + input + ": " + scene.error);
  }
  if (const int written = writeSceneOutput(request.output, scene.text); written != 0) {
    return written;
  }
  if (request.output != "-") {
    // On standard output the notes are already comments in the scene.
    for (const std::string &note : scene.notes) {
      sayLine(note);
    }
    sayLine("Wrote " + countOf(mesh.triangles.size(), "triangle") + " to " + request.output);
  }
  return 0;
}

} // namespace

int runImport(const std::vector<std::string> &args) {
  ImportRequest request;
  int status = 1;
  if (!parseImport(args, request, status)) {
    return status;
  }
  try {
    return import(request);
  } catch (const std::bad_alloc &) {
    return endWith("Not enough memory to import " + request.input);
  }
}
