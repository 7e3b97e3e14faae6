#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "accel/bvh/BvhIntersector.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The hierarchy with up to four children per node, whose boxes one ray tests
// together in float, four lanes at a time (docs/exact-acceleration.md,
// section 4). It is made from the two-child tree, which it shares its prims
// and its per-node reach constants with.
struct alignas(16) BvhWideNode {
  static constexpr int kLanes = 4;
  // Child boxes, one lane per child: lo[axis][lane], hi[axis][lane].
  float lo[3][kLanes];
  float hi[3][kLanes];
  // A leaf child's first prim, or an inner child's wide node.
  std::uint32_t child[kLanes];
  // The two-child nodes the children stand for, with their reach constants.
  std::uint32_t binaryChild[kLanes];
  // The top half of a float at or below each child's negligible reach: a
  // reach at or below it is kept without reading the two-child node.
  std::uint16_t negligibleBelow[kLanes];
  // A leaf child's prim count; 0 for an inner child.
  std::uint8_t count[kLanes];
  std::uint8_t lanes; // children in use, from lane 0

  float negligibleBelowOf(int lane) const {
    return std::bit_cast<float>(std::uint32_t(negligibleBelow[lane]) << 16);
  }
};
static_assert(sizeof(BvhWideNode) == 144, "the per-lane reach fits in what was padding");

// Collapses the two-child tree (root first, as the builder lays it out) into
// wide nodes, root first.
std::vector<BvhWideNode> collapseToWide(const std::vector<BvhIntersector::Node> &nodes);

#if defined(__SSE2__)
// The ray as the four-lane box test reads it.
struct WideRay {
  __m128 origin[3];
  __m128 inverse[3]; // float 1 / d, finite: axes with d = 0 are `parallel`
  bool parallel[3];
  bool negative[3]; // d < 0: the ray enters a slab at its high plane
  bool anyParallel;
  double planeSlack; // covers the float roundings of planes and numerators
};

// A float at or above a non-negative reach, kept on the stack: the relative
// 2^-22 covers rounding to nearest in the float range, 2^-140 the absolute
// error below it; beyond it, infinite.
inline float reachAbove(double reach) {
  const double above = reach * (1.0 + 0x1p-22) + 0x1p-140;
  return above < 0x1p127 ? float(above) : INFINITY;
}

// What the four-lane test adds to every box for a reach: outward by the reach
// and by the roundings of lo - reach and plane - o, rounded to a float at or
// above it (beyond the float range, infinite). Worked out when the reach
// changes, not per node.
inline float grownReach(double reach, const WideRay &ray) {
  const double grown = (reach + ray.planeSlack) * (1.0 + 0x1p-21) + 0x1p-100;
  const double above = grown * (1.0 + 0x1p-23);
  return above < 0x1p127 ? float(above) : INFINITY;
}

// The lanes (bit per lane) whose box, grown by `grown` (grownReach), the exact
// ray line enters at a parameter t >= 0, with a lowered entry at or below
// `limit`; `entries` receives for each lane a float at or below the exact
// entry. With `anyParallel` false the ray has no zero direction component.
template <bool anyParallel>
inline int enterFour(const BvhWideNode &node, const WideRay &ray, float grown, float limit,
                     float entries[4]) {
  const __m128 r = _mm_set1_ps(grown);
  __m128 near = _mm_set1_ps(-INFINITY);
  __m128 far = _mm_set1_ps(INFINITY);
  __m128 inside = _mm_castsi128_ps(_mm_set1_epi32(-1));
  for (int a = 0; a < 3; ++a) {
    const __m128 lo = _mm_sub_ps(_mm_sub_ps(_mm_load_ps(node.lo[a]), r), ray.origin[a]);
    const __m128 hi = _mm_sub_ps(_mm_add_ps(_mm_load_ps(node.hi[a]), r), ray.origin[a]);
    if (anyParallel && ray.parallel[a]) {
      const __m128 zero = _mm_setzero_ps();
      inside = _mm_and_ps(inside, _mm_and_ps(_mm_cmple_ps(lo, zero), _mm_cmpge_ps(hi, zero)));
      continue;
    }
    // Every step below rounds monotonically and lo - r <= hi + r, so the plane
    // the direction's sign picks gives the smaller parameter: the values the
    // min and max of both would give (up to the sign of a zero, which only
    // orders equal entries), without them.
    const __m128 t0 = _mm_mul_ps(ray.negative[a] ? hi : lo, ray.inverse[a]);
    const __m128 t1 = _mm_mul_ps(ray.negative[a] ? lo : hi, ray.inverse[a]);
    near = _mm_max_ps(near, t0);
    far = _mm_min_ps(far, t1);
  }
  // Two roundings (the reciprocal and the product) move a slab parameter by
  // under 2^-22 of itself; widening by 2^-20 of the rounded value covers them
  // and the rounding of the widening itself.
  const __m128 scale = _mm_set1_ps(0x1p-20f);
  const __m128 sign = _mm_set1_ps(-0.0f);
  near = _mm_sub_ps(near, _mm_mul_ps(_mm_andnot_ps(sign, near), scale));
  far = _mm_add_ps(far, _mm_mul_ps(_mm_andnot_ps(sign, far), scale));
  _mm_storeu_ps(entries, near);
  const __m128 pass =
      _mm_and_ps(_mm_and_ps(inside, _mm_cmple_ps(near, _mm_min_ps(far, _mm_set1_ps(limit)))),
                 _mm_cmpge_ps(far, _mm_setzero_ps()));
  return _mm_movemask_ps(pass) & ((1 << node.lanes) - 1);
}
#endif
