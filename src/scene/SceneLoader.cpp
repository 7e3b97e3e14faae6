// The scene file format: a keyword alone on its line, followed by its
// numbers. Numbers are read as doubles and stored as floats; any white space
// may separate them. Blank lines and lines starting with '#' are skipped.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "io/Console.h"
#include "io/WholeFile.h"
#include "scene/Scene.h"
#include "scene/SceneStream.h"

namespace {

enum class Kind { Camera, AmbientLight, DirectionLight, PointLight, Material, Triangle, Sphere };

struct Command {
  Kind kind;
  std::string_view keyword;
  int numbers;
  // Nominal lines, keyword line included: the line counter advances by this
  // much whatever the actual layout.
  int lines;
};

// Compared in this order.
constexpr Command kCommands[] = {
    {Kind::Camera, "camera", 10, 5},
    {Kind::AmbientLight, "ambientLight", 3, 2},
    {Kind::DirectionLight, "directionLight", 6, 3},
    {Kind::PointLight, "pointLight", 6, 3},
    {Kind::Material, "material", 5, 4},
    {Kind::Triangle, "triangle", 9, 4},
    {Kind::Sphere, "sphere", 4, 3},
};

constexpr int kMostNumbers = 10;

// Largest scene file read. Line numbers stay within 32 bits, and a device
// that never ends (/dev/zero) cannot take all memory.
constexpr std::uintmax_t kMaxInputBytes = std::numeric_limits<std::int32_t>::max();

Vec3 vec(const float *v) {
  return {v[0], v[1], v[2]};
}

struct CloseFile {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

} // namespace

int Scene::load(const std::string &path) {
  // Memory runs out as a bad_alloc from the containers and the shape lists;
  // a huge scene then ends with a message instead of an abort.
  try {
    // Closed on every way out.
    const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) {
      sayLine("Error opening input file " + path);
      return 0;
    }
    // A regular file beyond the limit is refused before it is read. Any
    // other is read to its end even after a fault in its text, so that a
    // read error or too much input is reported first, as it would be had the
    // whole file been read before any of it was parsed.
    std::error_code noSize;
    const std::uintmax_t size = std::filesystem::file_size(path, noSize);
    std::string problem;
    ReadResult read = ReadResult::TooLarge;
    if (noSize || size <= kMaxInputBytes) {
      SceneStream in(file.get(), kMaxInputBytes);
      problem = readCommands(in);
      in.drain();
      read = in.readResult();
    }
    switch (read) {
    case ReadResult::CannotOpen:
      sayLine("Error opening input file " + path);
      return 0;
    case ReadResult::CannotRead:
      sayLine("Error reading input file " + path);
      return 0;
    case ReadResult::TooLarge:
      sayLine("Input file too large: " + path + " is more than " + std::to_string(kMaxInputBytes) +
              " bytes");
      return 0;
    case ReadResult::Ok:
      break;
    }
    if (!problem.empty()) {
      sayLine(problem);
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc &) {
    sayLine("Not enough memory to load input file " + path);
    return 0;
  }
}

int Scene::loadText(std::string text) {
  SceneStream in(std::move(text));
  const std::string problem = readCommands(in);
  if (!problem.empty()) {
    sayLine(problem);
    return 0;
  }
  return 1;
}

std::string Scene::readCommands(SceneStream &in) {
  Material material;
  // Counts to one past the last line, which for a file of kMaxInputBytes
  // newlines is one more than a 32-bit integer holds.
  long long lineNumber = 0;

  while (!in.atEnd()) {
    // The line as an editor counts it, for diagnostics; lineNumber is the
    // nominal count the messages use.
    const std::uint32_t sourceLine = in.line();
    const std::string line = in.readLine();
    ++lineNumber;

    const Command *command = nullptr;
    for (const Command &candidate : kCommands) {
      if (line == candidate.keyword) {
        command = &candidate;
        break;
      }
    }
    const bool skipped = line.empty() || line[0] == '#';
    if (command == nullptr && !skipped) {
      return "Line " + std::to_string(lineNumber) + ": Unexpected command " + line;
    }
    if (in.failed() && !in.atEnd()) {
      // An overlong line that is not reported as an unexpected command: the
      // rest of it cannot be read, so stop rather than guess.
      return "Line " + std::to_string(lineNumber) + ": Line longer than " +
             std::to_string(SceneStream::kMaxLineLength) + " characters";
    }
    if (command == nullptr) {
      continue;
    }

    // Numbers missing at the end of the input read as 0.
    float n[kMostNumbers] = {};
    for (int i = 0; i < command->numbers; ++i) {
      double value = 0.0;
      if (in.readNumber(value) == SceneStream::NumberResult::Malformed) {
        return "Line " + std::to_string(lineNumber) + ": Bad number in " +
               std::string(command->keyword);
      }
      n[i] = float(value);
    }
    in.discardOne();

    switch (command->kind) {
    case Kind::Camera:
      setCamera(vec(n), vec(n + 3), vec(n + 6), n[9]);
      cameraLine = sourceLine;
      break;
    case Kind::AmbientLight:
      ambient = vec(n);
      ambientLine = sourceLine;
      break;
    case Kind::DirectionLight:
      addDirectionLight(vec(n), vec(n + 3));
      directionLights->sourceLine = sourceLine;
      break;
    case Kind::PointLight:
      addPointLight(vec(n), vec(n + 3));
      pointLights->sourceLine = sourceLine;
      break;
    case Kind::Material:
      // Shapes take a copy, so this affects only shapes read from here on.
      material.color = vec(n);
      material.exponent = n[3];
      material.reflectivity = n[4];
      if (firstMaterialLine == 0) {
        firstMaterialLine = sourceLine;
      }
      break;
    case Kind::Triangle:
      addTriangle(material, vec(n), vec(n + 3), vec(n + 6));
      shapes->sourceLine = sourceLine;
      break;
    case Kind::Sphere:
      addSphere(material, vec(n), n[3]);
      shapes->sourceLine = sourceLine;
      break;
    }
    lineNumber += command->lines - 1;
  }
  return {};
}
