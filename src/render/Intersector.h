#pragma once

#include "geometry/Shape.h"
#include "scene/Scene.h"

// Largest finite float: the "nothing hit yet" distance.
inline constexpr float kFarAway = 3.4028235e38f;

struct Hit {
  float t = kFarAway;
  const Shape *shape = nullptr; // null when nothing was hit
};

// The questions the tracer asks of the scene's shapes. Every implementation
// must answer exactly as walking `scene.shapes` in list order and calling
// Shape::intersect on each would: same shape, same parameter bit for bit,
// same tie-break, same blocked or not.
class Intersector {
public:
  virtual ~Intersector() = default;

  // The shape with the smallest parameter t >= 0 (strictly below kFarAway);
  // among equal parameters the one first in list order.
  virtual Hit nearest(const Ray &ray) const = 0;
  // Whether any shape reports a hit t > 0 (a shadow ray towards a direction
  // light). May stop at the first blocker.
  virtual bool anyHit(const Ray &ray) const = 0;
  // Whether any shape reports 0 < t < 1 (a shadow ray towards a point light
  // at parameter 1). May stop at the first blocker.
  virtual bool anyHitBeforeOne(const Ray &ray) const = 0;
};

// The reference: every ray tests every shape of the list, through the
// virtual Shape interface.
class ListIntersector final : public Intersector {
public:
  explicit ListIntersector(const Scene &scene) : shapes_(scene.shapes) {}

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

  bool anyHit(const Ray &ray) const override {
    for (const Shape *shape = shapes_; shape != nullptr; shape = shape->next) {
      if (shape->intersect(ray) > 0.0f) {
        return true;
      }
    }
    return false;
  }

  bool anyHitBeforeOne(const Ray &ray) const override {
    for (const Shape *shape = shapes_; shape != nullptr; shape = shape->next) {
      const float t = shape->intersect(ray);
      if (t > 0.0f && t < 1.0f) {
        return true;
      }
    }
    return false;
  }

private:
  const Shape *shapes_;
};
