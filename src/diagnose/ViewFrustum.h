#pragma once

#include "geometry/Shape.h"
#include "scene/Scene.h"

// The part of space a width x height picture shows: the four planes through
// the eye and the picture's corner rays, and the plane of the eye facing
// forward.
class ViewFrustum {
public:
  ViewFrustum(const Scene &scene, int width, int height);

  // True when the shape lies wholly on the outer side of one of the planes,
  // so that no primary ray can meet it. Spheres are judged by their bounding
  // box; a shape with a non-finite coordinate never counts as outside.
  bool outside(const Shape &shape) const;
  // The length of the longest primary ray direction (a corner's).
  double longestRay() const { return longestRay_; }

private:
  Vec3 eye_;
  double planes_[5][3] = {};
  double longestRay_ = 1.0;
};
