#pragma once

#include <string>
#include <string_view>
#include <vector>

// Turns the text of a Wavefront OBJ file into scene-file text: a comment
// header, optionally a camera, lights and a floor framed on the mesh, then a
// material and one `triangle` command per triangle.
struct ConvertOptions {
  // The mesh is centred on the origin and scaled so that its largest extent
  // is this many units; 0 keeps the coordinates as they are.
  double size = 10.0;
  bool frame = false;
  bool floor = false;
  // Shown in the header comment.
  std::string sourceName = "-";
};

struct ConvertResult {
  // Empty on success; otherwise the one-line reason (no newline) and nothing
  // else is set.
  std::string error;
  // One line each, also written into `sceneText` as comments.
  std::vector<std::string> warnings;
  std::string sceneText;
  std::size_t triangleCount = 0;
  double scale = 1.0;
};

ConvertResult convertObj(std::string_view objText, const ConvertOptions &options);

// Triangles whose |edge1 x edge2| is below this are missed by rays that meet
// them more than 60 degrees away from head-on, and below half of it even
// head-on: the renderer rejects determinants under 0.01.
constexpr double kSmallTriangleCross = 0.02;
