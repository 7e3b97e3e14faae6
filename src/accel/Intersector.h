#pragma once

#include <cstddef>
#include <limits>

#include "geometry/Shape.h"

// Largest finite float: the "nothing hit yet" distance.
inline constexpr float kFarAway = 3.4028235e38f;

struct Hit {
  float t = kFarAway;
  const Shape *shape = nullptr; // null when nothing was hit
};

// The two questions a shadow ray asks.
enum class ShadowQuery {
  TowardsDirection, // towards a direction light: any hit t > 0 blocks
  BeforeOne,        // towards a point light at parameter 1: any hit 0 < t < 1 blocks
};

// Whether a shape reporting `t` blocks a shadow ray of the given kind.
constexpr bool blocks(float t, ShadowQuery kind) {
  return kind == ShadowQuery::TowardsDirection ? t > 0.0f : t > 0.0f && t < 1.0f;
}

// The nearest hit so far, ranked by (t, list position): a hit is t >= 0 below
// kFarAway, and among equal parameters the shape first in the list wins. A
// structure that visits shapes out of list order offers each one here and
// answers as the list walk does.
struct RankedHit {
  float t = kFarAway;
  std::size_t position = std::numeric_limits<std::size_t>::max();
  const Shape *shape = nullptr;

  void offer(float candidate, std::size_t at, const Shape *by) {
    if (candidate >= 0.0f && candidate < kFarAway &&
        (candidate < t || (candidate == t && at < position))) {
      t = candidate;
      position = at;
      shape = by;
    }
  }
  Hit hit() const { return {t, shape}; }
};

// The questions the tracer asks of the scene's shapes. Every implementation
// answers exactly as ListIntersector, the literal walk over the shape list:
// same shape, same parameter bit for bit, same tie-break, same blocked or not.
class Intersector {
public:
  virtual ~Intersector() = default;

  // The shape with the smallest parameter t >= 0 (strictly below kFarAway);
  // among equal parameters the one first in list order.
  virtual Hit nearest(const Ray &ray) const = 0;
  // Whether any shape blocks the shadow ray (see blocks()). May stop at the
  // first blocker.
  virtual bool blocked(const Ray &ray, ShadowQuery kind) const = 0;
};
