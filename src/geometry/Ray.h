#pragma once

#include "geometry/Vec3.h"

// The direction is kept as given, not normalised: ray parameters are measured
// in units of its length, so the point at t is origin + direction * t.
struct Ray {
  Vec3 origin;
  Vec3 direction;

  Ray(const Vec3 &origin_, const Vec3 &direction_) : origin(origin_), direction(direction_) {}
};
