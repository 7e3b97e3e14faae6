#include "geometry/Triangle.h"

Triangle::Triangle(Shape *next_, const Material &material_, float x0, float y0, float z0, float x1,
                   float y1, float z1, float x2, float y2, float z2)
    : Shape(next_, material_), vertex0(x0, y0, z0), vertex1(x1, y1, z1), vertex2(x2, y2, z2),
      edge1(sub(vertex1, vertex0)), edge2(sub(vertex2, vertex0)), normal(cross(edge1, edge2)) {
  normalize(normal);
}

// Moeller-Trumbore. det, u, v and t stay double; u and v are compared with 0
// unrounded but with 1 (and with each other's sum) after rounding to float.
// The epsilon doubles as the threshold on the unnormalised determinant, so
// triangles that are small against 0.01 / |d| are never hit.
float Triangle::intersect(const Ray &ray) const {
  const Vec3 p = cross(ray.direction, edge2);
  const double det = dot(p, edge1);
  if (-epsilon < det && det < epsilon) {
    return kMiss;
  }
  const float inv = float(1.0 / det);

  const Vec3 s = sub(ray.origin, vertex0);
  const double u = dot(s, p) * inv;
  if (u < 0.0 || float(u) > 1.0f) {
    return kMiss;
  }

  const Vec3 q = cross(s, edge1);
  const double v = dot(ray.direction, q) * inv;
  if (v < 0.0 || float(v) > 1.0f) {
    return kMiss;
  }
  if (double(float(u)) + float(v) > 1.0) {
    return kMiss;
  }

  const double t = dot(edge2, q) * inv;
  if (t >= epsilon) {
    return float(t);
  }
  return kMiss;
}

Vec3 Triangle::normalAt(const Vec3 & /*point*/) const {
  return normal;
}
