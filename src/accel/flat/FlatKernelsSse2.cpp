// The flat-array kernels on two double lanes (SSE2, part of every x86-64
// processor).

#include "accel/flat/FlatKernels.h"

#if defined(FLAT_HAVE_X86_KERNELS)

#include <emmintrin.h>

#define FLAT_TARGET

namespace flat::sse2 {
namespace {

using Pack = __m128d;
constexpr int kLanes = 2;

inline Pack splat(double value) {
  return _mm_set1_pd(value);
}
inline Pack load(const double *values) {
  return _mm_load_pd(values);
}
inline void store(double *values, Pack p) {
  _mm_store_pd(values, p);
}
inline Pack add(Pack a, Pack b) {
  return _mm_add_pd(a, b);
}
inline Pack sub(Pack a, Pack b) {
  return _mm_sub_pd(a, b);
}
inline Pack mul(Pack a, Pack b) {
  return _mm_mul_pd(a, b);
}
inline Pack divide(Pack a, Pack b) {
  return _mm_div_pd(a, b);
}
inline Pack squareRoot(Pack a) {
  return _mm_sqrt_pd(a);
}
inline Pack negate(Pack a) {
  return _mm_xor_pd(a, _mm_set1_pd(-0.0));
}
// Floats, kLanes of them in the low lanes.
using FloatPack = __m128;
inline FloatPack splatFloat(float value) {
  return _mm_set1_ps(value);
}
// One 64-bit load (__m128i may alias anything); the upper lanes are zero.
inline FloatPack loadFloats(const float *values) {
  return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(values)));
}
inline FloatPack subFloats(FloatPack a, FloatPack b) {
  return _mm_sub_ps(a, b);
}
inline FloatPack mulFloats(FloatPack a, FloatPack b) {
  return _mm_mul_ps(a, b);
}
// float(x): rounds to nearest like a scalar conversion.
inline FloatPack narrow(Pack a) {
  return _mm_cvtpd_ps(a);
}
inline Pack widen(FloatPack a) {
  return _mm_cvtps_pd(a);
}
inline Pack roundToFloat(Pack a) {
  return widen(narrow(a));
}
// Ordered comparisons: false when either side is NaN, like C's < >= >.
inline Pack lessThan(Pack a, Pack b) {
  return _mm_cmplt_pd(a, b);
}
inline Pack greaterEqual(Pack a, Pack b) {
  return _mm_cmpge_pd(a, b);
}
inline Pack greaterThan(Pack a, Pack b) {
  return _mm_cmpgt_pd(a, b);
}
inline Pack bitAnd(Pack a, Pack b) {
  return _mm_and_pd(a, b);
}
inline Pack bitOr(Pack a, Pack b) {
  return _mm_or_pd(a, b);
}
// b where `a` is clear.
inline Pack andNot(Pack a, Pack b) {
  return _mm_andnot_pd(a, b);
}
inline Pack select(Pack mask, Pack a, Pack b) {
  return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}
inline int bits(Pack mask) {
  return _mm_movemask_pd(mask);
}

#include "accel/flat/FlatKernelBodies.inc"

} // namespace

const Kernels kernels = {nearestSphere, anySphere, nearestTriangle, anyTriangle};

} // namespace flat::sse2

#endif
