#include "mesh/TriangleSizes.h"

#include <algorithm>
#include <cmath>

namespace {

// |edge1 x edge2| with float edges, as the renderer forms them.
double crossLength(const Vec3 &a, const Vec3 &b, const Vec3 &c) {
  const Vec3 e1 = sub(b, a);
  const Vec3 e2 = sub(c, a);
  const double x = double(e1.y) * e2.z - double(e1.z) * e2.y;
  const double y = double(e1.z) * e2.x - double(e1.x) * e2.z;
  const double z = double(e1.x) * e2.y - double(e1.y) * e2.x;
  return std::sqrt(x * x + y * y + z * z);
}

} // namespace

TriangleSizes measureTriangles(const std::vector<Vec3> &points,
                               const std::vector<std::array<std::uint32_t, 3>> &triangles) {
  TriangleSizes sizes;
  std::vector<double> growth;
  growth.reserve(triangles.size());
  for (const auto &t : triangles) {
    const double cross = crossLength(points[t[0]], points[t[1]], points[t[2]]);
    if (cross == 0.0) {
      ++sizes.degenerate;
      continue;
    }
    if (cross < kSmallTriangleCross) {
      ++sizes.small;
      // The cross product grows with the square of the scale.
      growth.push_back(std::sqrt(kSmallTriangleCross / cross));
    } else {
      growth.push_back(1.0);
    }
  }
  if (!growth.empty()) {
    const auto at = growth.begin() + std::ptrdiff_t(double(growth.size() - 1) * 0.99);
    std::nth_element(growth.begin(), at, growth.end());
    sizes.growthFor99Percent = *at;
  }
  return sizes;
}

double roundUpTwoDigits(double value) {
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 1.0);
  // Float rounding of the corners must not turn 2 into 2.1.
  return std::ceil(value / unit * (1.0 - 1e-6)) * unit;
}
