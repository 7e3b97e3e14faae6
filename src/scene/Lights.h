#pragma once

#include <cstdint>

#include "geometry/Vec3.h"

// A light at a position; it falls off with the square of the distance.
struct PointLight {
  PointLight(PointLight *next_, const Vec3 &color_, const Vec3 &position_)
      : next(next_), position(position_), color(color_) {}

  PointLight *next;
  Vec3 position;
  Vec3 color;
  // Line of the scene file that declared the light; 0 when not loaded.
  std::uint32_t sourceLine = 0;
};

// A light infinitely far away. `direction` points from a lit surface towards
// the light and is normalised on construction.
struct DirectionLight {
  DirectionLight(DirectionLight *next_, const Vec3 &color_, const Vec3 &direction_)
      : next(next_), direction(direction_), color(color_) {
    normalize(direction);
  }

  DirectionLight *next;
  Vec3 direction;
  Vec3 color;
  // Line of the scene file that declared the light; 0 when not loaded.
  std::uint32_t sourceLine = 0;
};
