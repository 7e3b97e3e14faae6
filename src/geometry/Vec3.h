#pragma once

#include <cmath>

// A point, direction or colour (red, green, blue in x, y, z), stored as three
// 32-bit floats. Every operation evaluates in double precision and rounds each
// stored component once, so results do not depend on the compiler's choice of
// float or double arithmetic.
struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Vec3() = default;
  constexpr Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
};

inline Vec3 add(const Vec3 &a, const Vec3 &b) {
  return {float(double(a.x) + b.x), float(double(a.y) + b.y), float(double(a.z) + b.z)};
}

inline void addInPlace(Vec3 &a, const Vec3 &b) {
  a = add(a, b);
}

inline Vec3 sub(const Vec3 &a, const Vec3 &b) {
  return {float(double(a.x) - b.x), float(double(a.y) - b.y), float(double(a.z) - b.z)};
}

// Component-wise product: filters one colour by another.
inline Vec3 mul(const Vec3 &a, const Vec3 &b) {
  return {float(double(a.x) * b.x), float(double(a.y) * b.y), float(double(a.z) * b.z)};
}

// The scalar is a float: callers holding a double scalar round it at the call.
inline Vec3 scale(const Vec3 &a, float s) {
  return {float(double(a.x) * s), float(double(a.y) * s), float(double(a.z) * s)};
}

// Summed z first, then y, then x; the double result is rounded by the caller
// only where it is stored.
inline double dot(const Vec3 &a, const Vec3 &b) {
  return (double(a.z) * b.z + double(a.y) * b.y) + double(a.x) * b.x;
}

inline Vec3 cross(const Vec3 &a, const Vec3 &b) {
  return {float(double(a.y) * b.z - double(a.z) * b.y),
          float(double(a.z) * b.x - double(a.x) * b.z),
          float(double(a.x) * b.y - double(a.y) * b.x)};
}

inline double length(const Vec3 &a) {
  return std::sqrt((double(a.x) * a.x + double(a.y) * a.y) + double(a.z) * a.z);
}

// A zero vector stays zero. The length and its reciprocal stay double; each
// component is rounded once, after the multiplication.
inline void normalize(Vec3 &a) {
  const double len = length(a);
  if (len == 0.0) {
    return;
  }
  const double k = 1.0 / len;
  a = {float(a.x * k), float(a.y * k), float(a.z * k)};
}

// Upper bound first, then lower bound; a NaN component fails both tests and
// is left as it is.
inline void clamp01(Vec3 &a) {
  float *components[] = {&a.x, &a.y, &a.z};
  for (float *c : components) {
    if (*c > 1.0f) {
      *c = 1.0f;
    }
  }
  for (float *c : components) {
    if (*c < 0.0f) {
      *c = 0.0f;
    }
  }
}
