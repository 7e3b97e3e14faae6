#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/Vec3.h"

// Triangles read from a mesh file, with the node transforms of its scene graph
// applied, wound counter-clockwise seen from outside.
struct Mesh {
  std::vector<Vec3> points;
  std::vector<std::array<std::uint32_t, 3>> triangles;
  // Faces with one or two corners: a scene cannot show them.
  std::uint64_t skippedPoints = 0;
  std::uint64_t skippedLines = 0;
};
