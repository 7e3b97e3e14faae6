#include "geometry/Sphere.h"

#include <cmath>

// Solves |o + t d - q|^2 = r^2 with the expanded constant term
// (o.o + q.q) - 2 q.o - r^2. Which intermediates are floats and which stay
// double is part of the result: A, B, B*B, o - q, q.q, the partial sum
// o.o + q.q, S and 2A are floats; Q, D and both roots are doubles.
float Sphere::intersect(const Ray &ray) const {
  const Vec3 &o = ray.origin;
  const Vec3 &d = ray.direction;

  const float a = float(dot(d, d));
  const Vec3 oq = sub(o, center);
  const float b = float(2.0 * dot(d, oq));
  const float qq = float(dot(center, center));
  const float ooPlusQq = float(dot(o, o) + qq);
  const double q = (double(ooPlusQq) - 2.0 * dot(center, o)) - double(radius) * radius;
  const float bb = float(double(b) * b);
  const double disc = double(bb) - 4.0 * a * q;
  if (disc < 0.0) {
    return kMiss;
  }
  const float s = float(std::sqrt(disc));
  const float twoA = float(2.0 * a);

  // The near root wins when it clears the epsilon; a ray starting inside the
  // sphere therefore hits the far side. A zero direction gives NaN roots,
  // which fail both tests.
  const double t1 = (-double(b) - s) / twoA;
  if (t1 >= epsilon) {
    return float(t1);
  }
  const double t2 = (double(s) - b) / twoA;
  if (t2 >= epsilon) {
    return float(t2);
  }
  return kMiss;
}

Vec3 Sphere::normalAt(const Vec3 &point) const {
  Vec3 n = sub(point, center);
  normalize(n);
  return n;
}
