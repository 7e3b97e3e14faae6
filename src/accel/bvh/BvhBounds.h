#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "geometry/Ray.h"

// How far a hit point reported by intersectSphere / intersectTriangle can lie
// from the exact shape, as derived in docs/exact-acceleration.md, and the
// compact encodings nodes keep of the magnitudes involved. Every constant is
// at least the derived value (the test suite checks each against its
// derivation); the two that set the reach of shadow rays, kTriangleResidual
// and kDeterminantInverse, sit close to it, the others have margins of 1.6 or
// more. All bounds are evaluated in double and rounded up.
namespace bvh {

// Triangle: distance <= kTriangleResidual * |o - v0| * C
//                       + kTriangleEdge * max(|e1|, |e2|) + kAbsolute,
// where C >= |d| |e1| |e2| / |det| is the conditioning of the hit: at most
// kDeterminantInverse * |d| |e1| |e2| since |det| >= 0.01, and at most
// 1 / (c / A - kDeterminantRounding) where c <= |d.n| / |d| for the unit
// normal n and A >= |e1| |e2| / |e1 x e2|.
inline constexpr double kTriangleResidual = 13.0 * 0x1p-24;
inline constexpr double kDeterminantInverse = 101.0;
inline constexpr double kDeterminantRounding = 0x1p-22;
inline constexpr double kTriangleEdge = 0x1p-23;
// A triangle's hit with 0 < t < 1 lies within
// kPlaneOffset * A * (|o - v0| (1 + kPlaneDrift * C) + |d|) of its plane,
// A = |e1| |e2| / |e1 x e2|: the large errors of a grazing hit run along the plane.
inline constexpr double kPlaneOffset = 5.0 * 0x1p-24;
inline constexpr double kPlaneDrift = 2.0 * 0x1p-24;
// Sphere: distance from the centre <= |r| + kSphere * (|o| + |q| + |r|) + kAbsolute.
inline constexpr double kSphere = 0x1p-9;
// Covers underflow to subnormal floats, which adds absolute errors only.
inline constexpr double kAbsolute = 0x1p-40;
// Slack for forming box planes and slab numerators in double:
// kPlaneRounding * (|o| + largest box coordinate).
inline constexpr double kPlaneRounding = 0x1p-46;
// Relative widening of slab parameters (reciprocal and product roundings).
inline constexpr double kSlabWidening = 0x1p-49;
// Cone spreads are kept in steps of 1/64.
inline constexpr double kSpreadStep = 1.0 / 64.0;
// A node keeps the reach it inherits from its parent (valid for it too)
// without working out its own when the inherited one is at most this share
// of the node's largest extent. Any value is safe; this one is measured:
// against 2^-6, render time on one thread fell by 5-8% on a terrain of a
// million triangles and 2-3% on a 5,000-triangle mesh (boxes grown a little
// more, far fewer reach computations); 2^-3 was no better.
inline constexpr float kNegligibleReach = 0x1p-4f;

// The inherited reach a node keeps without working out its own.
template <typename Box> float negligibleReachOf(const Box &node) {
  float extent = 0.0f;
  for (int a = 0; a < 3; ++a) {
    extent = std::max(extent, node.hi[a] - node.lo[a]);
  }
  return kNegligibleReach * extent;
}

// e1 x e2 in double: the products of floats are exact, one rounding per
// component.
inline void crossInDouble(const Vec3 &e1, const Vec3 &e2, double m[3]) {
  m[0] = double(e1.y) * e2.z - double(e1.z) * e2.y;
  m[1] = double(e1.z) * e2.x - double(e1.x) * e2.z;
  m[2] = double(e1.x) * e2.y - double(e1.y) * e2.x;
}

// The analysis assumes no overflow and bounded underflow: shape and ray
// coordinates beyond this magnitude, or non-finite, take the brute-force path.
inline constexpr double kMaxCoordinate = 0x1p20;
// Rays whose direction is shorter than this take the brute-force path (a
// sphere's quadratic degenerates there).
inline constexpr double kMinDirectionLength = 0x1p-20;

// An upper bound of the Euclidean length.
inline double lengthAbove(const Vec3 &v) {
  return std::sqrt((double(v.x) * v.x + double(v.y) * v.y) + double(v.z) * v.z) * (1.0 + 0x1p-40);
}

inline bool withinRange(float value) {
  return std::fabs(double(value)) <= kMaxCoordinate; // false for NaN too
}

inline bool withinRange(const Vec3 &v) {
  return withinRange(v.x) && withinRange(v.y) && withinRange(v.z);
}

inline double powerOfTwo(int e) {
  return std::bit_cast<double>(std::uint64_t(e + 1023) << 52);
}

// The next float towards -infinity / +infinity, as std::nextafter gives it,
// for a float that has one (not NaN, not the infinity stepped towards), by a
// step of its bit pattern: far cheaper than the library call, which most box
// faces took.
inline float stepDown(float f) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
  if ((bits & 0x7fffffffu) == 0) {
    return -0x1p-149f; // from either zero
  }
  return std::bit_cast<float>(bits >> 31 != 0 ? bits + 1 : bits - 1);
}

inline float stepUp(float f) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(f);
  if ((bits & 0x7fffffffu) == 0) {
    return 0x1p-149f;
  }
  return std::bit_cast<float>(bits >> 31 != 0 ? bits - 1 : bits + 1);
}

// The nearest float at or below / at or above a double.
inline float floatBelow(double x) {
  float f = float(x);
  if (double(f) > x) {
    f = stepDown(f);
  }
  return f;
}

inline float floatAbove(double x) {
  float f = float(x);
  if (double(f) < x) {
    f = stepUp(f);
  }
  return f;
}

// A float >= value kept in 16 bits: the top half of its bit pattern, rounded
// up. Zero stays zero. Larger values give larger codes.
inline std::uint16_t encodeAbove(double value) {
  if (!(value > 0.0)) {
    return 0;
  }
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(floatAbove(value));
  return std::uint16_t((bits + 0xffffu) >> 16);
}

inline double decodeAbove(std::uint16_t code) {
  return double(std::bit_cast<float>(std::uint32_t(code) << 16));
}

// Aspect bounds are kept as k with 2^(k / 16) >= aspect; kAspectUnknown when
// the aspect is too large (or infinite, for a degenerate triangle).
inline constexpr std::uint8_t kAspectUnknown = 255;

inline double decodeAspect(std::uint8_t k) {
  static const std::array<double, 16> steps = [] {
    std::array<double, 16> s{};
    for (int j = 0; j < 16; ++j) {
      s[std::size_t(j)] = std::nextafter(std::exp2(j / 16.0), INFINITY);
    }
    return s;
  }();
  return steps[k & 15u] * powerOfTwo(k >> 4);
}

inline std::uint8_t encodeAspect(double aspect) {
  if (!(aspect <= 0x1p15)) {
    return kAspectUnknown;
  }
  int k = std::max(0, int(std::ceil(16.0 * std::log2(std::max(aspect, 1.0)))) - 1);
  while (k < kAspectUnknown && decodeAspect(std::uint8_t(k)) < aspect) {
    ++k;
  }
  return std::uint8_t(k);
}

} // namespace bvh
