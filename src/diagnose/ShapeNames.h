#pragma once

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

// The scene-file keyword of a shape.
inline const char *shapeKeyword(const Shape &shape) {
  return dynamic_cast<const Sphere *>(&shape) != nullptr ? "sphere" : "triangle";
}
