#pragma once

#include "accel/Intersector.h"

// The reference, and so the contract every other structure is tested
// against: every ray tests every shape of the list, in list order, through
// the virtual Shape interface. Kept literal on purpose; faster structures
// live in flat/ and bvh/.
class ListIntersector final : public Intersector {
public:
  // `shapes` is the head of the scene's shape list (may be null).
  explicit ListIntersector(const Shape *shapes) : shapes_(shapes) {}

  Hit nearest(const Ray &ray) const override {
    Hit hit;
    for (const Shape *shape = shapes_; shape != nullptr; shape = shape->next) {
      const float t = shape->intersect(ray);
      if (t >= 0.0f && t < hit.t) {
        hit = {t, shape};
      }
    }
    return hit;
  }

  bool blocked(const Ray &ray, ShadowQuery kind) const override {
    for (const Shape *shape = shapes_; shape != nullptr; shape = shape->next) {
      const float t = shape->intersect(ray);
      if (kind == ShadowQuery::TowardsDirection ? t > 0.0f : t > 0.0f && t < 1.0f) {
        return true;
      }
    }
    return false;
  }

private:
  const Shape *shapes_;
};
