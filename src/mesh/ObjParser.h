#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The part of a Wavefront OBJ file that a scene can use: the vertex positions
// (`v` records) and the faces (`f` records), fan-triangulated. Texture and
// normal indices are checked for form and otherwise ignored, as are all other
// records.
struct ObjPoint {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

struct ObjMesh {
  std::vector<ObjPoint> vertices;
  // Zero-based indices into `vertices`, in the face's own order, so a
  // counter-clockwise face gives counter-clockwise triangles.
  std::vector<std::array<std::size_t, 3>> triangles;
};

struct ObjParseResult {
  ObjMesh mesh;
  // Empty on success; otherwise one line (no newline) naming the OBJ line.
  std::string error;
};

ObjParseResult parseObj(std::string_view text);
