#pragma once

#include "geometry/Shape.h"

// A flat triangle. Both faces are hit, but the normal is fixed by the vertex
// order (counter-clockwise seen from the side it points to) and is never
// turned towards the viewer.
class Triangle final : public Shape {
public:
  Triangle(Shape *next_, const Material &material_, float x0, float y0, float z0, float x1,
           float y1, float z1, float x2, float y2, float z2);

  float intersect(const Ray &ray) const override;
  Vec3 normalAt(const Vec3 &point) const override;
  // Zero for a degenerate triangle. Worked out on each call rather than
  // stored: shading asks once per hit, and a large mesh saves 12 bytes a
  // triangle.
  Vec3 unitNormal() const;

  Vec3 vertex0;
  Vec3 vertex1;
  Vec3 vertex2;
  Vec3 edge1;
  Vec3 edge2;
};
