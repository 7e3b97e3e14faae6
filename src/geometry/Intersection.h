#pragma once

#include <cmath>

#include "geometry/Ray.h"

// The ray-shape intersection arithmetic, as free functions over plain values
// so that every way of walking the shapes (the virtual Shape interface, flat
// arrays, a hierarchy) runs the very same roundings. Each returns the ray
// parameter of the hit, at or beyond `epsilon`, or -1 for a miss.

// Solves |o + t d - q|^2 = r^2 with the expanded constant term
// (o.o + q.q) - 2 q.o - r^2. Which intermediates are floats and which stay
// double is part of the result: A, B, B*B, o - q, q.q, the partial sum
// o.o + q.q, S and 2A are floats; Q, D and both roots are doubles.
inline float intersectSphere(const Vec3 &center, float radius, float epsilon, const Ray &ray) {
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
    return -1.0f;
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
  return -1.0f;
}

// Moeller-Trumbore. det, u, v and t stay double; u and v are compared with 0
// unrounded but with 1 (and their sum with 1) after rounding to float. The
// epsilon doubles as the threshold on the unnormalised determinant, so
// triangles that are small against 0.01 / |d| are never hit.
inline float intersectTriangle(const Vec3 &vertex0, const Vec3 &edge1, const Vec3 &edge2,
                               float epsilon, const Ray &ray) {
  const Vec3 p = cross(ray.direction, edge2);
  const double det = dot(p, edge1);
  if (-epsilon < det && det < epsilon) {
    return -1.0f;
  }
  const float inv = float(1.0 / det);

  const Vec3 s = sub(ray.origin, vertex0);
  const double u = dot(s, p) * inv;
  if (u < 0.0 || float(u) > 1.0f) {
    return -1.0f;
  }

  const Vec3 q = cross(s, edge1);
  const double v = dot(ray.direction, q) * inv;
  if (v < 0.0 || float(v) > 1.0f) {
    return -1.0f;
  }
  if (double(float(u)) + float(v) > 1.0) {
    return -1.0f;
  }

  const double t = dot(edge2, q) * inv;
  if (t >= epsilon) {
    return float(t);
  }
  return -1.0f;
}
