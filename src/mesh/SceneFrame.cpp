#include "mesh/SceneFrame.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFieldOfView = 40.0;
// The share of the half-height left empty on each side of the mesh.
constexpr double kMargin = 0.1;

struct Direction {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

double dot(const Direction &a, const Direction &b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

Direction normalized(const Direction &d) {
  const double length = std::sqrt(dot(d, d));
  return {d.x / length, d.y / length, d.z / length};
}

double centre(const MeshBounds &b, int axis) {
  return 0.5 * (b.min[axis] + b.max[axis]);
}

// Half the length of the box's diagonal.
double radius(const MeshBounds &b) {
  double sum = 0.0;
  for (int axis = 0; axis < 3; ++axis) {
    const double extent = b.max[axis] - b.min[axis];
    sum += extent * extent;
  }
  return 0.5 * std::sqrt(sum);
}

} // namespace

void appendFraming(SceneText &out, const std::vector<Vec3> &points, const Mesh &mesh,
                   const MeshBounds &bounds) {
  const Direction middle = {centre(bounds, 0), centre(bounds, 1), centre(bounds, 2)};
  // From the middle towards the eye: the front (+z), a little right and above.
  const Direction back = normalized({0.45, 0.35, 1.0});
  // World up made square to the view, so the picture's vertical is the view's.
  const Direction up = normalized({-back.y * back.x, 1.0 - back.y * back.y, -back.y * back.z});
  const Direction right = {up.y * back.z - up.z * back.y, up.z * back.x - up.x * back.z,
                           up.x * back.y - up.y * back.x};
  // The renderer's half-height of the view at distance 1, less the margin.
  const double reach = std::tan(kFieldOfView * 0.017452778 * 0.5) * (1.0 - kMargin);

  // Each corner at depth w towards the eye, x right and y up of the middle
  // must satisfy max(|x|, |y|) <= reach * (distance - w).
  double distance = 1e-3 * std::max(radius(bounds), 1.0);
  for (const auto &t : mesh.triangles) {
    for (const std::uint32_t i : t) {
      const Direction q = {points[i].x - middle.x, points[i].y - middle.y, points[i].z - middle.z};
      const double w = dot(q, back);
      const double side = std::max(std::fabs(dot(q, right)), std::fabs(dot(q, up)));
      distance = std::max(distance, w + side / reach + 1e-6 * radius(bounds));
    }
  }

  out.text("# Camera: eye, look-at point (the middle of the mesh), up, field of view.\ncamera\n");
  out.triple(middle.x + back.x * distance, middle.y + back.y * distance,
             middle.z + back.z * distance);
  out.triple(middle.x, middle.y, middle.z);
  out.triple(up.x, up.y, up.z);
  out.number(float(kFieldOfView));
  out.text("\n\nambientLight\n0.1 0.1 0.1\n\n"
           "# A key light from the upper left and a weaker fill light from the right\n"
           "# (colour, then the direction towards the light).\n"
           "directionLight\n0.8 0.8 0.8\n-0.6 1 0.8\n"
           "directionLight\n0.25 0.25 0.3\n1 0.4 0.6\n\n");
}

void appendFloor(SceneText &out, const MeshBounds &bounds) {
  const double cx = centre(bounds, 0);
  const double cz = centre(bounds, 2);
  const double half = 6.0 * std::max(radius(bounds), 1e-3);
  // A hair below the lowest corner, so faces lying on the floor do not
  // fight with it.
  const double y = bounds.min[1] - 0.002 * half;
  const double x0 = cx - half;
  const double x1 = cx + half;
  const double z0 = cz - half;
  const double z1 = cz + half;

  out.text("# Floor: two triangles, counter-clockwise seen from above.\n"
           "material\n0.55 0.55 0.55\n10\n0.2\ntriangle\n");
  out.triple(x0, y, z0);
  out.triple(x0, y, z1);
  out.triple(x1, y, z1);
  out.text("triangle\n");
  out.triple(x0, y, z0);
  out.triple(x1, y, z1);
  out.triple(x1, y, z0);
  out.text("\n");
}
