#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/Vec3.h"

// Triangles whose |edge1 x edge2| is below this are missed by unit-length
// rays that meet them more than 60 degrees away from head-on, and below half
// of it even head-on: the renderer rejects determinants under 0.01.
constexpr double kSmallTriangleCross = 0.02;

struct TriangleSizes {
  std::size_t degenerate = 0;
  std::size_t small = 0;
  // How much the mesh would have to grow for 99% of its triangles with an
  // area to be large enough; 1 when they already are.
  double growthFor99Percent = 1.0;
};

// Measured on the corners as the renderer stores them (floats), with the
// edges formed as it forms them.
TriangleSizes measureTriangles(const std::vector<Vec3> &points,
                               const std::vector<std::array<std::uint32_t, 3>> &triangles);

// Rounds up to two significant digits, so a size reads "40", not "38.27".
double roundUpTwoDigits(double value);
