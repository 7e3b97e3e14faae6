#include "geometry/Triangle.h"

#include "geometry/Intersection.h"

Triangle::Triangle(Shape *next_, const Material &material_, float x0, float y0, float z0, float x1,
                   float y1, float z1, float x2, float y2, float z2)
    : Shape(Kind::Triangle, next_, material_), vertex0(x0, y0, z0), vertex1(x1, y1, z1),
      vertex2(x2, y2, z2), edge1(sub(vertex1, vertex0)), edge2(sub(vertex2, vertex0)) {}

float Triangle::intersect(const Ray &ray) const {
  return intersectTriangle(vertex0, edge1, edge2, kEpsilon, ray);
}

Vec3 Triangle::normalAt(const Vec3 & /*point*/) const {
  return unitNormal();
}

Vec3 Triangle::unitNormal() const {
  Vec3 normal = cross(edge1, edge2); // rounded to floats, then normalised
  normalize(normal);
  return normal;
}
