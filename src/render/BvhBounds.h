#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "geometry/Ray.h"

// How far a hit point reported by intersectSphere / intersectTriangle can lie
// from the exact shape, as derived in docs/exact-acceleration.md. Every
// constant carries a safety factor of at least 1.6 over the derivation; all
// bounds are evaluated in double and rounded up.
namespace bvh {

// Triangle: distance <= kTriangleResidual * |o - v0| * |d| * |e1| * |e2|
//                       + kTriangleEdge * max(|e1|, |e2|) + kAbsolute.
inline constexpr double kTriangleResidual = 0x1p-13;
inline constexpr double kTriangleEdge = 0x1p-23;
// Sphere: distance from the centre <= |r| + kSphere * (|o| + |q| + |r|) + kAbsolute.
inline constexpr double kSphere = 0x1p-9;
// Covers underflow to subnormal floats, which adds absolute errors only.
inline constexpr double kAbsolute = 0x1p-40;
// Slack for forming box planes and slab numerators in double:
// kPlaneRounding * (|o| + largest box coordinate).
inline constexpr double kPlaneRounding = 0x1p-46;
// Relative widening of slab parameters (reciprocal and product roundings).
inline constexpr double kSlabWidening = 0x1p-49;

// The analysis assumes no overflow and bounded underflow: shape and ray
// coordinates beyond this magnitude, or non-finite, take the brute-force path.
inline constexpr double kMaxCoordinate = 0x1p20;
// Rays whose direction is shorter than this take the brute-force path (a
// sphere's quadratic degenerates there).
inline constexpr double kMinDirectionLength = 0x1p-20;

// An upper bound of the Euclidean length: the 1-norm, rounded up.
inline double lengthBound(const Vec3 &v) {
  return (std::fabs(double(v.x)) + std::fabs(double(v.y)) + std::fabs(double(v.z))) *
         (1.0 + 0x1p-40);
}

inline bool withinRange(float value) {
  return std::fabs(double(value)) <= kMaxCoordinate; // false for NaN too
}

inline bool withinRange(const Vec3 &v) {
  return withinRange(v.x) && withinRange(v.y) && withinRange(v.z);
}

// Exponent e with 2^e >= value, clamped to [-120, 120]; stored per node as a
// byte instead of a float.
inline std::int8_t exponentAbove(double value) {
  if (!(value > 0x1p-120)) {
    return -120;
  }
  int e = 0;
  const double mantissa = std::frexp(value, &e); // value = mantissa * 2^e, mantissa in [0.5, 1)
  (void)mantissa;
  return std::int8_t(e > 120 ? 120 : e);
}

inline double powerOfTwo(std::int8_t e) {
  return std::bit_cast<double>(std::uint64_t(int(e) + 1023) << 52);
}

// The nearest float at or below / at or above a double.
inline float floatBelow(double x) {
  float f = float(x);
  if (double(f) > x) {
    f = std::nextafter(f, -INFINITY);
  }
  return f;
}

inline float floatAbove(double x) {
  float f = float(x);
  if (double(f) < x) {
    f = std::nextafter(f, INFINITY);
  }
  return f;
}

} // namespace bvh
