#include "mesh/SceneFrame.h"

#include <algorithm>
#include <cmath>

#include "mesh/SceneText.h"

namespace {

constexpr double kFieldOfView = 40.0;
// Room left around the mesh, as a factor on the distance that just fits it.
constexpr double kMargin = 1.1;

double centre(const MeshBounds &b, int axis) {
  return 0.5 * (b.min[axis] + b.max[axis]);
}

// Half the length of the box's diagonal: every vertex lies within this
// distance of the centre.
double radius(const MeshBounds &b) {
  double sum = 0.0;
  for (int axis = 0; axis < 3; ++axis) {
    const double extent = b.max[axis] - b.min[axis];
    sum += extent * extent;
  }
  return 0.5 * std::sqrt(sum);
}

void appendTriple(std::string &out, double x, double y, double z) {
  ::appendTriple(out, float(x), float(y), float(z));
}

} // namespace

std::string framingText(const MeshBounds &bounds) {
  const double cx = centre(bounds, 0);
  const double cy = centre(bounds, 1);
  const double cz = centre(bounds, 2);
  // Seen from the front (+z), a little from the right and from above.
  const double view[3] = {0.45, 0.35, 1.0};
  const double viewLength = std::sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
  const double halfAngle = kFieldOfView * 0.5 * 3.141592653589793 / 180.0;
  const double distance = std::max(radius(bounds), 1e-3) / std::sin(halfAngle) * kMargin;
  const double scale = distance / viewLength;

  std::string out = "# Camera: eye, look-at point (the middle of the mesh), up, field of view.\n";
  out += "camera\n";
  appendTriple(out, cx + view[0] * scale, cy + view[1] * scale, cz + view[2] * scale);
  appendTriple(out, cx, cy, cz);
  out += "0 1 0\n";
  appendNumber(out, float(kFieldOfView));
  out += "\n\nambientLight\n0.1 0.1 0.1\n\n";
  out += "# A key light from the upper left and a weaker fill light from the right\n"
         "# (colour, then the direction towards the light).\n";
  out += "directionLight\n0.8 0.8 0.8\n-0.6 1 0.8\n";
  out += "directionLight\n0.25 0.25 0.3\n1 0.4 0.6\n\n";
  return out;
}

std::string floorText(const MeshBounds &bounds) {
  const double cx = centre(bounds, 0);
  const double cz = centre(bounds, 2);
  const double half = 6.0 * std::max(radius(bounds), 1e-3);
  // A hair below the lowest vertex, so faces lying on the floor do not fight
  // with it.
  const double y = bounds.min[1] - 0.002 * half;
  const double x0 = cx - half;
  const double x1 = cx + half;
  const double z0 = cz - half;
  const double z1 = cz + half;

  std::string out = "# Floor: two triangles, counter-clockwise seen from above.\n";
  out += "material\n0.55 0.55 0.55\n10\n0.2\n";
  out += "triangle\n";
  appendTriple(out, x0, y, z0);
  appendTriple(out, x0, y, z1);
  appendTriple(out, x1, y, z1);
  out += "triangle\n";
  appendTriple(out, x0, y, z0);
  appendTriple(out, x1, y, z1);
  appendTriple(out, x1, y, z0);
  out += '\n';
  return out;
}
