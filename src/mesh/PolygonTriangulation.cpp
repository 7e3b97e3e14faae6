#include "mesh/PolygonTriangulation.h"

#include <cmath>

namespace {

struct Point2 {
  double x = 0.0;
  double y = 0.0;
};

// Twice the signed area of (a, b, c): positive when counter-clockwise.
double turn(const Point2 &a, const Point2 &b, const Point2 &c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Inside or on the border of the counter-clockwise triangle (a, b, c).
bool inTriangle(const Point2 &p, const Point2 &a, const Point2 &b, const Point2 &c) {
  return turn(a, b, p) >= 0.0 && turn(b, c, p) >= 0.0 && turn(c, a, p) >= 0.0;
}

// The corners in the polygon's own plane, oriented so the polygon runs
// counter-clockwise when its normal points at the viewer.
std::vector<Point2> projectToPlane(std::span<const Vec3> corners) {
  double normal[3] = {};
  const std::size_t n = corners.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Vec3 &a = corners[i];
    const Vec3 &b = corners[(i + 1) % n];
    normal[0] += (double(a.y) - b.y) * (double(a.z) + b.z);
    normal[1] += (double(a.z) - b.z) * (double(a.x) + b.x);
    normal[2] += (double(a.x) - b.x) * (double(a.y) + b.y);
  }
  // Drop the axis the normal leans on most; swap the other two when the
  // normal points down that axis, so the winding survives the projection.
  int drop = 2;
  if (std::fabs(normal[0]) >= std::fabs(normal[1]) &&
      std::fabs(normal[0]) >= std::fabs(normal[2])) {
    drop = 0;
  } else if (std::fabs(normal[1]) >= std::fabs(normal[2])) {
    drop = 1;
  }
  const int u = (drop + 1) % 3;
  const int v = (drop + 2) % 3;
  const bool flip = normal[drop] < 0.0;
  std::vector<Point2> points(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double c[3] = {corners[i].x, corners[i].y, corners[i].z};
    points[i] = flip ? Point2{c[v], c[u]} : Point2{c[u], c[v]};
  }
  return points;
}

} // namespace

std::vector<std::array<std::size_t, 3>> triangulatePolygon(std::span<const Vec3> corners) {
  std::vector<std::array<std::size_t, 3>> triangles;
  if (corners.size() < 3) {
    return triangles;
  }
  triangles.reserve(corners.size() - 2);
  const std::vector<Point2> points = projectToPlane(corners);
  std::vector<std::size_t> left(corners.size());
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = i;
  }
  auto isEar = [&](std::size_t at) {
    const std::size_t m = left.size();
    const std::size_t a = left[(at + m - 1) % m];
    const std::size_t b = left[at];
    const std::size_t c = left[(at + 1) % m];
    if (turn(points[a], points[b], points[c]) <= 0.0) {
      return false;
    }
    for (const std::size_t other : left) {
      if (other != a && other != b && other != c &&
          inTriangle(points[other], points[a], points[b], points[c])) {
        return false;
      }
    }
    return true;
  };
  while (left.size() > 3) {
    // Trying the second corner first makes a convex polygon the fan around
    // its first corner, as simpler readers split it.
    const std::size_t m = left.size();
    std::size_t tried = 0;
    std::size_t at = 1;
    while (tried < m && !isEar(at)) {
      at = (at + 1) % m;
      ++tried;
    }
    if (tried == m) {
      break;
    }
    triangles.push_back({left[(at + m - 1) % m], left[at], left[(at + 1) % m]});
    left.erase(left.begin() + std::ptrdiff_t(at));
  }
  for (std::size_t i = 1; i + 1 < left.size(); ++i) {
    triangles.push_back({left[0], left[i], left[i + 1]});
  }
  return triangles;
}
