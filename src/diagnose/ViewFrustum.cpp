#include "diagnose/ViewFrustum.h"

#include <cmath>
#include <vector>

#include "diagnose/ShapeNames.h"
#include "render/RayTracer.h"

namespace {

void crossInto(const Vec3 &a, const Vec3 &b, double *out) {
  out[0] = double(a.y) * b.z - double(a.z) * b.y;
  out[1] = double(a.z) * b.x - double(a.x) * b.z;
  out[2] = double(a.x) * b.y - double(a.y) * b.x;
}

double side(const double *plane, const Vec3 &p, const Vec3 &eye) {
  return plane[0] * (double(p.x) - eye.x) + plane[1] * (double(p.y) - eye.y) +
         plane[2] * (double(p.z) - eye.z);
}

std::vector<Vec3> corners(const Shape &shape) {
  if (const auto *t = dynamic_cast<const Triangle *>(&shape)) {
    return {t->vertex0, t->vertex1, t->vertex2};
  }
  const auto &s = static_cast<const Sphere &>(shape);
  const float r = std::fabs(s.radius);
  std::vector<Vec3> box;
  for (int i = 0; i < 8; ++i) {
    box.push_back({s.center.x + ((i & 1) ? r : -r), s.center.y + ((i & 2) ? r : -r),
                   s.center.z + ((i & 4) ? r : -r)});
  }
  return box;
}

} // namespace

ViewFrustum::ViewFrustum(const Scene &scene, int width, int height) : eye_(scene.eye) {
  const RayTracer::CameraRays rays = RayTracer::cameraRays(scene, width, height);
  const Vec3 across = scale(rays.stepX, float(width - 1));
  const Vec3 upwards = scale(rays.stepY, float(height - 1));
  // Corners counter-clockwise as seen from the eye looking forward.
  const Vec3 corner[4] = {rays.start, add(rays.start, across),
                          add(add(rays.start, across), upwards), add(rays.start, upwards)};
  for (int i = 0; i < 4; ++i) {
    crossInto(corner[i], corner[(i + 1) % 4], planes_[i]);
    longestRay_ = std::fmax(longestRay_, length(corner[i]));
    // Point every plane's normal into the picture.
    const double inward = planes_[i][0] * scene.forward.x + planes_[i][1] * scene.forward.y +
                          planes_[i][2] * scene.forward.z;
    if (inward < 0.0) {
      for (double &c : planes_[i]) {
        c = -c;
      }
    }
  }
  planes_[4][0] = scene.forward.x;
  planes_[4][1] = scene.forward.y;
  planes_[4][2] = scene.forward.z;
}

bool ViewFrustum::outside(const Shape &shape) const {
  const std::vector<Vec3> points = corners(shape);
  for (const auto &plane : planes_) {
    bool allOutside = true;
    for (const Vec3 &p : points) {
      const double s = side(plane, p, eye_);
      // NaN fails this test, so a non-finite shape never counts as outside.
      if (!(s < 0.0)) {
        allOutside = false;
        break;
      }
    }
    if (allOutside) {
      return true;
    }
  }
  return false;
}
