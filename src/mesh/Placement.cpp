#include "mesh/Placement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kMaxSizeSteps = 8;

using Matrix = double[3][3];

void multiply(const Matrix &a, const Matrix &b, Matrix &out) {
  Matrix product = {};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < 3; ++k) {
        product[r][c] += a[r][k] * b[k][c];
      }
    }
  }
  std::copy(&product[0][0], &product[0][0] + 9, &out[0][0]);
}

// Counter-clockwise by `degrees` about `axis`, exact for multiples of 90.
void turnAbout(int axis, double degrees, Matrix &m) {
  const double quarterTurns = degrees / 90.0;
  double c = std::cos(degrees * kPi / 180.0);
  double s = std::sin(degrees * kPi / 180.0);
  if (quarterTurns == std::floor(quarterTurns)) {
    const long long k = ((static_cast<long long>(quarterTurns) % 4) + 4) % 4;
    const double cosines[4] = {1, 0, -1, 0};
    const double sines[4] = {0, 1, 0, -1};
    c = cosines[k];
    s = sines[k];
  }
  const int u = (axis + 1) % 3;
  const int v = (axis + 2) % 3;
  Matrix turn = {};
  turn[axis][axis] = 1.0;
  turn[u][u] = c;
  turn[u][v] = -s;
  turn[v][u] = s;
  turn[v][v] = c;
  multiply(turn, m, m);
}

struct Affine {
  Matrix linear = {};
  double offset[3] = {};

  Vec3 apply(const Vec3 &p) const {
    double out[3];
    for (int r = 0; r < 3; ++r) {
      out[r] = (linear[r][0] * p.x + linear[r][1] * p.y + linear[r][2] * p.z) + offset[r];
    }
    return {float(out[0]), float(out[1]), float(out[2])};
  }
};

bool isFinite(const Vec3 &p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The corners after the turns, scale and move; false when one overflows.
bool transformAll(const Mesh &mesh, const std::vector<bool> &used, const Affine &map,
                  std::vector<Vec3> &points) {
  points.assign(mesh.points.size(), Vec3{});
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (used[i]) {
      points[i] = map.apply(mesh.points[i]);
      if (!isFinite(points[i])) {
        return false;
      }
    }
  }
  return true;
}

} // namespace

Orientation makeOrientation(bool zUp, double degreesX, double degreesY, double degreesZ) {
  Orientation o;
  if (zUp) {
    // +z becomes +y, +y becomes -z.
    turnAbout(0, -90.0, o.m);
  }
  turnAbout(0, degreesX, o.m);
  turnAbout(1, degreesY, o.m);
  turnAbout(2, degreesZ, o.m);
  return o;
}

Placement placeMesh(const Mesh &mesh, const PlacementOptions &options) {
  Placement placed;
  std::vector<bool> used(mesh.points.size(), false);
  for (const auto &t : mesh.triangles) {
    used[t[0]] = used[t[1]] = used[t[2]] = true;
  }

  // Bounds after the turns, in double.
  const Matrix &turn = options.orientation.m;
  MeshBounds turned;
  std::fill(std::begin(turned.min), std::end(turned.min), std::numeric_limits<double>::infinity());
  std::fill(std::begin(turned.max), std::end(turned.max), -std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < mesh.points.size(); ++i) {
    if (!used[i]) {
      continue;
    }
    const Vec3 &p = mesh.points[i];
    if (!isFinite(p)) {
      placed.error = "the mesh has a coordinate that is not a finite number";
      return placed;
    }
    for (int r = 0; r < 3; ++r) {
      const double value = turn[r][0] * p.x + turn[r][1] * p.y + turn[r][2] * p.z;
      turned.min[r] = std::min(turned.min[r], value);
      turned.max[r] = std::max(turned.max[r], value);
    }
  }
  double extent = 0.0;
  for (int r = 0; r < 3; ++r) {
    extent = std::max(extent, turned.max[r] - turned.min[r]);
  }
  if (options.sizeMode != SizeMode::Keep && !(extent > 0.0 && std::isfinite(extent))) {
    placed.error = extent == 0.0
                       ? "the triangles have no size to scale: all their corners are at one point"
                       : "the mesh is too large to measure in double precision";
    return placed;
  }

  const bool move = options.sizeMode != SizeMode::Keep || options.hasAt;
  const double bottomCentre[3] = {0.5 * (turned.min[0] + turned.max[0]), turned.min[1],
                                  0.5 * (turned.min[2] + turned.max[2])};
  auto mapForScale = [&](double scale) {
    Affine map;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        map.linear[r][c] = turn[r][c] * scale;
      }
      map.offset[r] = move ? options.at[r] - bottomCentre[r] * scale : 0.0;
    }
    return map;
  };
  const char *const overflow =
      "the placed mesh does not fit in 32-bit floats; choose a smaller --size or --at";

  double size = options.sizeMode == SizeMode::Keep ? extent : options.size;
  double scale = options.sizeMode == SizeMode::Keep ? 1.0 : size / extent;
  if (!transformAll(mesh, used, mapForScale(scale), placed.points)) {
    placed.error = overflow;
    return placed;
  }
  placed.sizes = measureTriangles(placed.points, mesh.triangles);
  if (options.sizeMode == SizeMode::Automatic) {
    // Grow until 99% show; the float rounding of the corners may need a
    // second step.
    for (int step = 0;
         step < kMaxSizeSteps && placed.sizes.growthFor99Percent > 1.0 && size < kLargestSize;
         ++step) {
      size = std::min(kLargestSize,
                      roundUpTwoDigits(size * placed.sizes.growthFor99Percent * (1.0 + 1e-9)));
      scale = size / extent;
      if (!transformAll(mesh, used, mapForScale(scale), placed.points)) {
        placed.error = overflow;
        return placed;
      }
      placed.sizes = measureTriangles(placed.points, mesh.triangles);
    }
  }

  std::fill(std::begin(placed.bounds.min), std::end(placed.bounds.min),
            std::numeric_limits<double>::infinity());
  std::fill(std::begin(placed.bounds.max), std::end(placed.bounds.max),
            -std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < placed.points.size(); ++i) {
    if (used[i]) {
      const double p[3] = {placed.points[i].x, placed.points[i].y, placed.points[i].z};
      for (int r = 0; r < 3; ++r) {
        placed.bounds.min[r] = std::min(placed.bounds.min[r], p[r]);
        placed.bounds.max[r] = std::max(placed.bounds.max[r], p[r]);
      }
    }
  }
  placed.scale = scale;
  placed.size = size;
  return placed;
}
