#include "geometry/Sphere.h"

#include "geometry/Intersection.h"

float Sphere::intersect(const Ray &ray) const {
  return intersectSphere(center, radius, kEpsilon, ray);
}

Vec3 Sphere::normalAt(const Vec3 &point) const {
  Vec3 n = sub(point, center);
  normalize(n);
  return n;
}
