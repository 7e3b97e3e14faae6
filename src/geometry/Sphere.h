#pragma once

#include "geometry/Shape.h"

class Sphere final : public Shape {
public:
  Sphere(Shape *next_, const Material &material_, float cx, float cy, float cz, float radius_)
      : Shape(Kind::Sphere, next_, material_), center(cx, cy, cz), radius(radius_) {}

  float intersect(const Ray &ray) const override;
  Vec3 normalAt(const Vec3 &point) const override;

  Vec3 center;
  float radius;
};
